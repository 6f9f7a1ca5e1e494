#include "datafiles.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvasim {

namespace {

bool LineHasKey(std::string_view line, std::string_view key) {
    return line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=';
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
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

UniqueFd::~UniqueFd() {
    if (m_fd >= 0)
        ::close(m_fd);
}

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

UniqueFd LockFile(const std::string& path, bool wait) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    if (!fd.IsValid())
        return {};
    int result;
    do {
        result = ::flock(fd.Get(), wait ? LOCK_EX : LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? std::move(fd) : UniqueFd();
}

bool WriteFileAtomic(const std::string& path, std::string_view content) {
    // The temporary name does not end in ".orv", so nobody mistakes it for a data file.
    std::string temporary = path + ".tmp-" + UniqueSuffix();
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644));
    if (!fd.IsValid())
        return false;
    bool ok = WriteAll(fd.Get(), content);
    fd = UniqueFd();
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

bool AppendToFile(const std::string& path, std::string_view text) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    if (!fd.IsValid())
        return false;
    ssize_t written;
    do {
        written = ::write(fd.Get(), text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(text.size());
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.IsValid())
        return std::nullopt;
    std::string text;
    char chunk[4096];
    for (;;) {
        ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return text;
        text.append(chunk, static_cast<size_t>(got));
    }
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

std::string UniqueSuffix() {
    auto nanoseconds = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::to_string(::getpid()) + "-" + std::to_string(nanoseconds);
}

} // namespace orvasim
