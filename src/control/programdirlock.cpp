#include "control/programdirlock.h"

#include "platform/fileops.h"

#include <charconv>
#include <string_view>
#include <unistd.h>

namespace vantrel {

std::string CProgramDirLock::LockPath(const std::string& programDir) {
    return platform::JoinPath(programDir, kProgramLockFile);
}

CProgramDirLock::EResult CProgramDirLock::Acquire(const std::string& programDir) {
    const std::string path = LockPath(programDir);
    if (!m_lock.Acquire(path))
        return platform::IsFileLockedByOther(path) ? EResult::HeldByOther : EResult::Unavailable;
    // Only for the message a second start shows; the lock is what counts.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(m_lock.Fd(), 0) == 0)
        static_cast<void>(::pwrite(m_lock.Fd(), pid.data(), pid.size(), 0));
    return EResult::Taken;
}

pid_t CProgramDirLock::ReadHolder(const std::string& programDir) {
    const std::string text = platform::ReadFileText(LockPath(programDir)).value_or("");
    std::string_view digits(text);
    digits = digits.substr(0, digits.find('\n'));
    pid_t pid = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    return error == std::errc() && end == digits.data() + digits.size() && pid > 0 ? pid : 0;
}

} // namespace vantrel
