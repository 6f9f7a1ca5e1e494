#include "platform/file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/filelock_linux.h"
#include "platform/fileops.h"
#include "platform/fileops_linux.h"

namespace vantrel::platform {

namespace {
int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}
} // namespace

void File::Close() {
    if (m_handle != kNoHandle)
        ::close(Fd(std::exchange(m_handle, kNoHandle)));
}

File File::FromNativeHandle(std::intptr_t handle) {
    File file;
    file.m_handle = handle < 0 ? kNoHandle : handle;
    return file;
}

std::optional<std::size_t> File::Read(char* buffer, std::size_t size) {
    ssize_t got = 0;
    do {
        got = ::read(Fd(m_handle), buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return std::nullopt;
    return static_cast<std::size_t>(got);
}

bool File::Rewind() {
    return ::lseek(Fd(m_handle), 0, SEEK_SET) == 0;
}

bool File::WriteAll(std::string_view data) {
    return IsValid() && platform::WriteAll(Fd(m_handle), data);
}

bool File::Truncate(std::uint64_t size) {
    int result = 0;
    do {
        result = ::ftruncate(Fd(m_handle), static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool File::ReplaceContents(std::string_view data) {
    if (!Truncate(0))
        return false;
    for (off_t at = 0; !data.empty();) {
        ssize_t written = ::pwrite(Fd(m_handle), data.data(), data.size(), at);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(written));
        at += written;
    }
    return true;
}

bool File::Sync() {
    return ::fsync(Fd(m_handle)) == 0;
}

std::optional<std::uint64_t> File::Size() const {
    struct stat st {};
    if (::fstat(Fd(m_handle), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool File::IsSameFileAs(const std::string& path) const {
    struct stat atPath {};
    struct stat opened {};
    return ::stat(path.c_str(), &atPath) == 0 && ::fstat(Fd(m_handle), &opened) == 0 &&
           atPath.st_dev == opened.st_dev && atPath.st_ino == opened.st_ino;
}

bool File::CopyPermissionsFrom(const File& other) {
    struct stat st {};
    return ::fstat(Fd(other.m_handle), &st) == 0 && ::fchmod(Fd(m_handle), st.st_mode & 07777) == 0;
}

bool OpenFileBlocksReplacement() {
    return false;
}

File OpenRegularFile(const std::string& path, const FileOpenOptions& options, bool& heldByOther) {
    heldByOther = false;
    int flags = (options.write ? O_RDWR : O_RDONLY) | (options.create ? O_CREAT : 0) |
                (options.append ? O_APPEND : 0);
    // O_NONBLOCK keeps a FIFO of that name from blocking the open; regular files ignore it.
    File file = File::FromNativeHandle(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666));
    if (!file.IsValid())
        return {};
    struct stat st {};
    if (::fstat(Fd(file.NativeHandle()), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (options.exclusive && IsLockedByOther(Fd(file.NativeHandle()), true)) {
        heldByOther = true;
        return {};
    }
    return file;
}

TempFile::TempFile(const std::string& target, std::string_view tag)
    : m_strPath(JoinPath(DirectoryPart(target), "." + FileNamePart(target) + "." + std::string(tag) + "-XXXXXX")) {
    if (DirectoryPart(target).empty())
        m_strPath = m_strPath.substr(1); // a bare name stays in the current directory
    m_file = File::FromNativeHandle(::mkostemp(m_strPath.data(), O_CLOEXEC));
    if (!m_file.IsValid())
        m_strPath.clear();
}

TempFile::~TempFile() {
    m_file.Close();
    if (!m_strPath.empty())
        ::unlink(m_strPath.c_str());
}

bool TempFile::MoveTo(const std::string& path, bool replace) {
    if (m_strPath.empty())
        return false;
    m_file.Close();
    bool moved = replace ? ::rename(m_strPath.c_str(), path.c_str()) == 0 : MoveFile(m_strPath, path);
    if (moved)
        m_strPath.clear();
    return moved;
}

} // namespace vantrel::platform
