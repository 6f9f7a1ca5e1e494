#pragma once

#include "platform/filelock.h"
#include "platform/process.h"

#include <string>

namespace vantrel {

// The lock file that keeps one running copy per program directory.
inline constexpr const char* kProgramLockFile = "vantrel.lock";

// An exclusive flock on "vantrel.lock" in the program directory, held for the program's life and
// taken before anything looks at the cache. The kernel drops it when the process ends, however it
// ends, so a crashed copy never blocks the next start; the descriptor is close-on-exec, so a
// client that outlives the program (a transmit run) never holds it. The file itself stays: removing
// it would let a third start lock a new file while the second still holds the old one.
class CProgramDirLock {
public:
    enum class EResult {
        Taken,       // this copy runs here
        HeldByOther, // another copy runs in this program directory
        Unavailable, // the file cannot be made (a directory the user may not write)
    };

    EResult Acquire(const std::string& programDir);
    void Release() { m_lock.Release(); }
    bool IsHeld() const { return m_lock.IsHeld(); }

    // The process id the holder wrote into the file; 0 when unknown.
    static platform::ProcessId ReadHolder(const std::string& programDir);
    static std::string LockPath(const std::string& programDir);

private:
    platform::FileLock m_lock;
};

} // namespace vantrel
