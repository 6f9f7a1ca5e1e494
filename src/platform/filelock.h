#pragma once

#include <string>
#include <string_view>

#include "platform/file.h"

namespace vantrel::platform {

// Whether some process holds the file locked: open it (never created, never waiting) and try
// flock(LOCK_EX|LOCK_NB); also probe POSIX/OFD record locks with F_OFD_GETLK, since on a local
// file system neither kind sees the other. The exclusive OpenRegularFile asks the same probe.
// A missing file is not locked; one that is there but cannot be opened or probed (no permission,
// a directory, a dangling link, any special file, a probe the file system refuses) counts as
// locked, like a file that cannot be opened exclusively. The probe uses its own descriptor with
// flock and OFD calls only; we never hold classic POSIX locks, which closing it would drop.
bool IsFileLockedByOther(const std::string& path);

// An exclusive lock held on a file for the life of the object (RAII): a flock on Linux, which the
// system drops when the holder ends, however it ends. Used for the program-directory lock, by the
// simulated client for "lock.orv" and by tests that stand in for a running client.
class FileLock {
public:
    // Opens (creating it when create is set) and locks path without waiting; false when the file
    // cannot be opened or another holder has it.
    bool Acquire(const std::string& path, bool create = true);
    void Release() { m_file.Close(); }
    bool IsHeld() const { return m_file.IsValid(); }
    // Puts text in the locked file in place of what it held; the lock stays.
    bool ReplaceContents(std::string_view text) { return m_file.ReplaceContents(text); }

private:
    File m_file;
};

} // namespace vantrel::platform
