#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Plain file and directory operations on paths of any length. Failures come back as false or
// an empty value; nothing here throws. Paths use "/" and never end with one (but "/").
namespace vantrel::platform {

// dir + "/" + name, without doubling a separator.
std::string JoinPath(std::string_view dir, std::string_view name);

// The part after the last "/" (the whole path when there is none).
std::string FileNamePart(std::string_view path);

// The part before the last "/" ("/" for a file in the root, "" when there is none).
std::string DirectoryPart(std::string_view path);

// Whether the name is present as a file or a directory (a dangling symbolic link counts).
bool PathExists(const std::string& path);

// Whether path names a directory; a symbolic link is not followed.
bool IsDirectory(const std::string& path);

// Whether path names a regular file (a symbolic link is followed).
bool IsRegularFile(const std::string& path);

struct DirEntry {
    std::string name;
    bool isDirectory = false; // a symbolic link is never a directory here
};

// Entries of dir whose names match the shell pattern, ignoring case (fnmatch FNM_CASEFOLD);
// "." and ".." are never listed. An unreadable directory gives an empty list.
std::vector<DirEntry> ListDirectory(const std::string& dir, const std::string& pattern = "*");

// mkdir with mode 0777 (less the umask); false when it fails, also when the name exists.
bool MakeDirectory(const std::string& path);

// Removes an empty directory.
bool RemoveDirectory(const std::string& path);

// Removes a file or a symbolic link (never what a link points to).
bool DeleteFile(const std::string& path);

// Renames like MoveFileA: fails when the target exists, also an empty directory
// (renameat2 RENAME_NOREPLACE, or an equivalent step where the file system refuses that flag).
bool MoveFile(const std::string& from, const std::string& to);

// Copies a regular file. The source is opened without waiting (a FIFO or device under its name
// never blocks us) and anything but a regular file is refused as if absent. With failIfExists the copy fails when the target exists; otherwise the
// target is replaced. The copy is written to a temporary name beside the target and renamed into
// place, so a reader never sees a half-written target and a failed copy leaves the old one.
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);

// Creates an empty file, truncating one that exists. Creates with mode 0666 (less the umask).
// A link or anything but a regular file under the name is refused, and a FIFO never blocks us.
bool CreateEmptyFile(const std::string& path);

// Creates (present) or removes (not present) the empty file relative beneath the directory base,
// where no component of relative may be a symbolic link: a link among them fails the call, so
// nothing is written or deleted through it. base itself may be reached through links.
bool SetFileBeneath(const std::string& base, std::string_view relative, bool present);

// Whether path is a real directory (not a link) that we may list and look into.
bool IsUsableDirectory(const std::string& path);

// Last-write time in whole seconds since the epoch; empty when the file cannot be examined.
std::optional<std::int64_t> LastWriteTime(const std::string& path);

// Size in bytes; empty when the file cannot be examined.
std::optional<std::uint64_t> FileSize(const std::string& path);

// Deletes a directory with all its contents. A symbolic link inside is removed as a link and what
// it points to is untouched; a path that is itself a link is not followed either. Goes on past
// anything it cannot delete, which then stays with its directories. Any depth is deleted with a
// few descriptors and no recursion; a directory on another file system (a mount) is not entered,
// and the walk stops when a directory it is in is moved out from under it.
void DeleteTree(const std::string& path);

// Reads the whole file as bytes, up to maxBytes; empty when it cannot be read.
std::optional<std::string> ReadFileText(const std::string& path, std::size_t maxBytes = 16u << 20);

// Writes data to path by way of a temporary file beside it and a rename, so a crash or a full
// disk never leaves a truncated file: the old file stays unless the new one is whole. mode is
// used for a newly created file.
bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode = 0666);

// Writes data as the file name in dir, replacing it whole: a new file (mode, less the umask) is
// renamed over it, so a link of that name is replaced, never written through. dir must be a real
// directory (not a link) owned by this user, and is made with mode 0700 when missing; its parent
// must exist. False when dir is anything else or the file cannot be written.
bool WriteFileInOwnDirectory(const std::string& dir, std::string_view name, std::string_view data, unsigned mode);
// Removes name (a link as a link) from dir, under the same rule for dir; true when it is gone.
bool DeleteFileInOwnDirectory(const std::string& dir, std::string_view name);
// Whether name in dir is a regular file (a link to one counts) and dir is a real directory of ours.
bool IsFileInOwnDirectory(const std::string& dir, std::string_view name);

// Whether both paths name the same existing file (same device and inode).
bool IsSameFile(const std::string& a, const std::string& b);

// Whether dir is a real directory (a link is never followed) of this user's that nobody else may
// enter or list.
bool IsPrivateDirectory(const std::string& dir);

// Makes dir as a private directory (see IsPrivateDirectory), or takes the directory of this
// user's already there and narrows its permissions to the owner's. False for a link, a directory
// of another user, or anything else under the name.
bool MakePrivateDirectory(const std::string& dir);

// Whether path names a local (Unix domain) socket; a link is not followed.
bool IsLocalSocket(const std::string& path);

} // namespace vantrel::platform
