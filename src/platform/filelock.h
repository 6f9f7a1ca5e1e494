#pragma once

#include <string>

namespace vantrel::platform {

// Whether some process holds the file locked: open it (never created, never waiting) and try
// flock(LOCK_EX|LOCK_NB); also probe POSIX/OFD record locks with F_OFD_GETLK, since on a local
// file system neither kind sees the other. A missing file is not locked; one that is there but
// cannot be opened or probed (no permission, a directory, a dangling link, any special file)
// counts as locked, like a file that cannot be opened exclusively. Our own probe drops nothing:
// it uses its own descriptor with flock and OFD calls only, never classic POSIX locks.
bool IsFileLockedByOther(const std::string& path);

// An exclusive flock held on a file for the life of the object (RAII). Used by the simulated
// client for "lock.orv" and by tests that stand in for a running client.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens (creating it when create is set) and locks path without waiting; false when the file
    // cannot be opened or another holder has it.
    bool Acquire(const std::string& path, bool create = true);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

} // namespace vantrel::platform
