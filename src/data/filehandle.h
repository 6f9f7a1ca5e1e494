#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace vantrel {

// An open file descriptor, closed when the object goes (RAII). Move-only.
class CFileHandle {
public:
    CFileHandle() = default;
    explicit CFileHandle(int fd) : m_fd(fd) {}
    ~CFileHandle() { Close(); }
    CFileHandle(CFileHandle&& other) noexcept;
    CFileHandle& operator=(CFileHandle&& other) noexcept;
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    void Close();

private:
    int m_fd = -1;
};

// Opens an existing or (with O_CREAT in flags) new regular file. Anything that is not a regular
// file (a directory, a FIFO that would block, a device) counts as "cannot be opened".
// With exclusive set, the open stands for an open "without sharing": the file is flocked
// (LOCK_EX|LOCK_NB) for the life of the handle, and a file on which another process holds a
// flock or a POSIX/OFD record lock cannot be opened. The lock kinds do not see each other on a
// local file system, so both are checked.
CFileHandle OpenRegularFile(const std::string& path, int flags, bool exclusive, mode_t mode = 0666);

// Writes all of data, going on after short writes and interruptions. False on any failure; how
// much was written is then unknown to the caller.
bool WriteAll(int fd, std::string_view data);

} // namespace vantrel
