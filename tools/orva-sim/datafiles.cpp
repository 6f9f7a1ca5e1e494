#include "datafiles.h"

#include "platform/fileops.h"
#include "platform/process.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace orvasim {

namespace {

bool LineHasKey(std::string_view line, std::string_view key) {
    return line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=';
}

} // namespace

DataFile DataFile::Parse(std::string_view text) {
    DataFile file;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        file.m_lines.emplace_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return file;
}

std::optional<DataFile> DataFile::Read(const std::string& path) {
    std::optional<std::string> text = ReadWholeFile(path);
    if (!text)
        return std::nullopt;
    return Parse(*text);
}

bool DataFile::Has(std::string_view key) const {
    for (const std::string& line : m_lines)
        if (LineHasKey(line, key))
            return true;
    return false;
}

std::string DataFile::Get(std::string_view key) const {
    for (const std::string& line : m_lines)
        if (LineHasKey(line, key))
            return line.substr(key.size() + 1);
    return {};
}

void DataFile::Set(std::string_view key, std::string_view value) {
    std::string line = std::string(key) + "=" + std::string(value);
    for (std::string& existing : m_lines) {
        if (LineHasKey(existing, key)) {
            existing = std::move(line);
            return;
        }
    }
    m_lines.push_back(std::move(line));
}

void DataFile::Append(const DataFile& other) {
    m_lines.insert(m_lines.end(), other.m_lines.begin(), other.m_lines.end());
}

std::string DataFile::Text() const {
    std::string text;
    for (const std::string& line : m_lines)
        text += line + "\n";
    return text;
}

vantrel::platform::File LockFile(const std::string& path, bool wait) {
    using namespace vantrel::platform;
    FileOpenOptions options;
    options.write = true;
    options.create = true;
    options.exclusive = true;
    return wait ? OpenRegularFileWaiting(path, options, std::chrono::minutes(1)) : OpenRegularFile(path, options);
}

std::optional<std::string> ReadAll(vantrel::platform::File& file) {
    if (!file.Rewind())
        return std::nullopt;
    std::string text;
    char chunk[4096];
    for (;;) {
        std::optional<std::size_t> got = file.Read(chunk, sizeof chunk);
        if (!got)
            return std::nullopt;
        if (*got == 0)
            return text;
        text.append(chunk, *got);
    }
}

bool WriteFileAtomic(const std::string& path, std::string_view content) {
    using namespace vantrel::platform;
    // The temporary name does not end in ".orv", so nobody mistakes it for a data file.
    std::string temporary = path + ".tmp-" + UniqueSuffix();
    FileOpenOptions options;
    options.write = true;
    options.create = true;
    File file = OpenRegularFile(temporary, options);
    bool ok = file.IsValid() && file.WriteAll(content);
    file.Close();
    if (!ok) {
        DeleteFile(temporary);
        return false;
    }
    // Windows refuses to replace a file that a reader has open without sharing its deletion; such
    // a reader lets go in a moment, so try again for a while before giving up.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        std::error_code ec;
        std::filesystem::rename(temporary, path, ec);
        if (!ec)
            return true;
        if (std::chrono::steady_clock::now() > deadline || !PathExists(temporary))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    DeleteFile(temporary);
    return false;
}

bool AppendToFile(const std::string& path, std::string_view text) {
    using namespace vantrel::platform;
    FileOpenOptions options;
    options.write = true;
    options.create = true;
    options.append = true;
    File file = OpenRegularFile(path, options);
    return file.IsValid() && file.WriteAll(text);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    return vantrel::platform::ReadFileText(path);
}

bool PathExists(const std::string& path) {
    return vantrel::platform::PathExists(path);
}

bool RemoveFile(const std::string& path) {
    return vantrel::platform::DeleteFile(path) || !vantrel::platform::PathExists(path);
}

std::string UniqueSuffix() {
    auto nanoseconds = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::to_string(vantrel::platform::CurrentProcessId()) + "-" + std::to_string(nanoseconds);
}

} // namespace orvasim
