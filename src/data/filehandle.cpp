#include "data/filehandle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vantrel {

CFileHandle::CFileHandle(CFileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

CFileHandle& CFileHandle::operator=(CFileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void CFileHandle::Close() {
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

namespace {
// Whether another open file description holds a record lock that would conflict with ours.
bool HasForeignRecordLock(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return false;
    return probe.l_type != F_UNLCK;
}
} // namespace

CFileHandle OpenRegularFile(const std::string& path, int flags, bool exclusive, mode_t mode) {
    // O_NONBLOCK keeps a FIFO of that name from blocking the open; regular files ignore it.
    CFileHandle file(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode));
    if (!file.IsOpen())
        return {};
    struct stat st {};
    if (fstat(file.Fd(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (exclusive) {
        if (flock(file.Fd(), LOCK_EX | LOCK_NB) != 0 || HasForeignRecordLock(file.Fd()))
            return {};
    }
    return file;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace vantrel
