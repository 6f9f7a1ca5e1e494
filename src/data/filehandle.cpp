#include "data/filehandle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

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
    if (!file.IsValid())
        return {};
    struct stat st {};
    if (fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (exclusive) {
        if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0 || HasForeignRecordLock(file.Get()))
            return {};
    }
    return file;
}

} // namespace vantrel
