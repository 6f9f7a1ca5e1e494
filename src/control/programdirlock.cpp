#include "control/programdirlock.h"

#include "platform/fileops.h"

#include <charconv>
#include <string_view>

namespace vantrel {

std::string CProgramDirLock::LockPath(const std::string& programDir) {
    return platform::JoinPath(programDir, kProgramLockFile);
}

CProgramDirLock::EResult CProgramDirLock::Acquire(const std::string& programDir) {
    const std::string path = LockPath(programDir);
    if (!m_lock.Acquire(path))
        return platform::IsFileLockedByOther(path) ? EResult::HeldByOther : EResult::Unavailable;
    // Only for the message a second start shows; the lock is what counts.
    static_cast<void>(m_lock.ReplaceContents(std::to_string(platform::CurrentProcessId()) + "\n"));
    return EResult::Taken;
}

platform::ProcessId CProgramDirLock::ReadHolder(const std::string& programDir) {
    const std::string text = platform::ReadFileText(LockPath(programDir)).value_or("");
    std::string_view digits(text);
    digits = digits.substr(0, digits.find('\n'));
    platform::ProcessId pid = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    return error == std::errc() && end == digits.data() + digits.size() && pid > 0 ? pid : 0;
}

} // namespace vantrel
