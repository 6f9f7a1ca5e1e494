#pragma once

#include "platform/file.h"

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

// Opens path, creating it when missing, and holds it locked for the life of the handle (an
// flock on Linux, an open without sharing on Windows), so another client's lock probe sees it:
// waiting for it when wait is set (a minute at most), else failing at once when another holder
// has it. Invalid on failure.
vantrel::platform::File LockFile(const std::string& path, bool wait);

// The whole contents of an open file, read from its start.
std::optional<std::string> ReadAll(vantrel::platform::File& file);

// Writes content under a temporary name beside path and renames it into place, so a reader
// sees the old file or the new one, never a torn one. The temporary file is removed on failure.
bool WriteFileAtomic(const std::string& path, std::string_view content);
// Appends text with a single write to a file opened for appending, so concurrent writers never
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
