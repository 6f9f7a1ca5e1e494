#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The client's key=value data files and the few file operations the simulated client needs.
namespace orvasim {

// The lines of one data file, in order. A key is the text before a line's first "="; lines
// without one are kept as they are. Keys are matched exactly (the client writes lower case).
class DataFile {
public:
    static DataFile Parse(std::string_view text);
    // The file's contents, or nothing when it does not exist or cannot be read.
    static std::optional<DataFile> Read(const std::string& path);

    bool Has(std::string_view key) const;
    // The value of the first line with that key; empty when there is none.
    std::string Get(std::string_view key) const;
    // Replaces the value of the first line with that key, or appends a line.
    void Set(std::string_view key, std::string_view value);
    // Appends every line of other, in order.
    void Append(const DataFile& other);
    std::string Text() const;

private:
    std::vector<std::string> m_lines;
};

// An open descriptor, closed when the object goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    int Get() const { return m_fd; }

private:
    int m_fd = -1;
};

// Opens path, creating it when missing, and takes an exclusive flock on it: waiting for it when
// wait is set, else failing at once when another descriptor holds it. Invalid on failure.
UniqueFd LockFile(const std::string& path, bool wait);

// Writes content under a temporary name beside path and renames it into place, so a reader
// sees the old file or the new one, never a torn one. The temporary file is removed on failure.
bool WriteFileAtomic(const std::string& path, std::string_view content);
// Appends text with a single write(2) on an O_APPEND descriptor, so concurrent writers never
// interleave inside one record.
bool AppendToFile(const std::string& path, std::string_view text);
std::optional<std::string> ReadWholeFile(const std::string& path);
// True when path names anything, a dangling link included.
bool PathExists(const std::string& path);
// Removes the file itself (a link is removed, never followed); true when it is gone.
bool RemoveFile(const std::string& path);
// A unique suffix for temporary names: this process's id and a nanosecond clock reading.
std::string UniqueSuffix();

} // namespace orvasim
