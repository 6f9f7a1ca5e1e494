#include "platform/filelock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/filelock_linux.h"

namespace vantrel::platform {

bool IsLockedByOther(int fd, bool keepFlock) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return true;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;
    // F_OFD_GETLK reports classic POSIX locks of other processes as well as OFD locks.
    bool locked = ::fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK;
    if (locked || !keepFlock)
        ::flock(fd, LOCK_UN);
    return locked;
}

bool IsFileLockedByOther(const std::string& path) {
    // O_RDONLY would do for flock, but the record-lock probe asks about a write lock, which needs
    // no write access to ask; read-only also works on a client's file we may not write.
    File file = File::FromNativeHandle(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    const int fd = static_cast<int>(file.NativeHandle());
    if (!file.IsValid()) {
        // Gone since the caller looked: free. A dangling link is still there, and cannot be opened.
        struct stat st {};
        return errno != ENOENT || ::lstat(path.c_str(), &st) == 0;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    return IsLockedByOther(fd, false);
}

bool FileLock::Acquire(const std::string& path, bool create) {
    Release();
    int flags = O_RDWR | O_CLOEXEC | O_NOCTTY | (create ? O_CREAT : 0);
    File file = File::FromNativeHandle(::open(path.c_str(), flags, 0644));
    if (!file.IsValid() || ::flock(static_cast<int>(file.NativeHandle()), LOCK_EX | LOCK_NB) != 0)
        return false;
    m_file = std::move(file);
    return true;
}

} // namespace vantrel::platform
