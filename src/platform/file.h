#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Open regular files, read and written through a small handle. Failures come back as false or an
// empty value; nothing here throws.
namespace vantrel::platform {

struct FileOpenOptions {
    bool write = false;     // read and write; otherwise read only
    bool create = false;    // make a missing file (mode 0666 less the umask)
    bool append = false;    // every write goes to the end of the file
    bool exclusive = false; // an open "without sharing", see OpenRegularFile
};

// One open file, closed when the object goes. Move-only.
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsValid() const { return m_handle != kNoHandle; }
    void Close();

    // Reads up to size bytes at the current position, resuming after an interruption: the count
    // read, 0 at the end of the file, empty on an error.
    std::optional<std::size_t> Read(char* buffer, std::size_t size);
    // Back to the start of the file; false when the file cannot seek.
    bool Rewind();
    // Writes all of data, resuming after partial writes and interruptions; false on an error.
    bool WriteAll(std::string_view data);
    // Cuts the file to size bytes (or makes it that long); false on an error.
    bool Truncate(std::uint64_t size);
    // Puts data at the start of the file in place of what it held.
    bool ReplaceContents(std::string_view data);
    // Waits until what was written is on the disk.
    bool Sync();
    // The size now; empty when the file cannot be examined.
    std::optional<std::uint64_t> Size() const;
    // Whether path names this same file now, not a file that replaced it since it was opened.
    bool IsSameFileAs(const std::string& path) const;
    // Gives this file the access permissions other has.
    bool CopyPermissionsFrom(const File& other);

    // The system's own handle (a descriptor on Linux), for the platform's own files only.
    std::intptr_t NativeHandle() const { return m_handle; }
    static File FromNativeHandle(std::intptr_t handle);

private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t m_handle = kNoHandle;
};

// Opens an existing or (with create) new regular file. Anything that is not a regular file (a
// directory, a FIFO that would block, a device) counts as "cannot be opened", and the open never
// waits. With exclusive set, the open stands for an open "without sharing": the file must not be
// locked by another holder (see IsFileLockedByOther, the same probe) and stays locked for the
// life of the handle, so a second exclusive open fails until it goes.
File OpenRegularFile(const std::string& path, const FileOpenOptions& options);
// The same; heldByOther tells whether an exclusive open failed only because another holder has
// the file, which is no fault: the holder may let go.
File OpenRegularFile(const std::string& path, const FileOpenOptions& options, bool& heldByOther);
// An exclusive open that waits, as a blocking lock would, while another holder has the file, for
// at most patience; it fails at once for any other reason.
File OpenRegularFileWaiting(const std::string& path, FileOpenOptions options, std::chrono::milliseconds patience);

// Whether a file we hold open, even shared, keeps another program from replacing it by a rename
// (Windows refuses the rename while any handle is open): then a reader must not stay open between
// reads of a file that a client replaces.
bool OpenFileBlocksReplacement();

// A new file beside a target, under a unique hidden name (".<name>.<tag>-XXXXXX" in the target's
// directory), removed again when the object goes unless it was moved into place.
class TempFile {
public:
    TempFile(const std::string& target, std::string_view tag);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsOpen() const { return m_file.IsValid(); }
    File& Get() { return m_file; }
    const std::string& Path() const { return m_strPath; }

    // Closes the file and renames it to path. With replace, a file already there is replaced in
    // one step, so a reader sees either the old file or the whole new one; without it the move
    // fails when path exists (see MoveFile). On success nothing is left to remove.
    bool MoveTo(const std::string& path, bool replace);

private:
    std::string m_strPath;
    File m_file;
};

} // namespace vantrel::platform
