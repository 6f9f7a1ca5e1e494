#include "platform/filelock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/uniquefd.h"

namespace vantrel::platform {

bool IsFileLockedByOther(const std::string& path) {
    // O_RDONLY would do for flock, but the record-lock probe asks about a write lock, which needs
    // no write access to ask; read-only also works on a client's file we may not write.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.IsValid()) {
        // Gone since the caller looked: free. A dangling link is still there, and cannot be opened.
        struct stat st {};
        return errno != ENOENT || ::lstat(path.c_str(), &st) == 0;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return true;
    ::flock(fd.Get(), LOCK_UN);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;
    // F_OFD_GETLK reports classic POSIX locks of other processes as well as OFD locks.
    if (::fcntl(fd.Get(), F_OFD_GETLK, &probe) != 0)
        return true;
    return probe.l_type != F_UNLCK;
}

FileLock::~FileLock() {
    Release();
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool FileLock::Acquire(const std::string& path, bool create) {
    Release();
    int flags = O_RDWR | O_CLOEXEC | O_NOCTTY | (create ? O_CREAT : 0);
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void FileLock::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace vantrel::platform
