#pragma once

#include "platform/process.h"
#include "platform/process_detail_linux.h"
#include "support/wait.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>

// Helpers for the process tests: sleeping clients, and looking at a child from the outside
// through /proc and waitid.
namespace vantrel::test {

inline platform::ProcessStartInfo SleepClient(const std::string& dir, const std::string& title,
                                              std::uint16_t show = platform::SW_HIDE) {
    return {{"/bin/sleep", "60"}, dir, title, show};
}

// Kills the client when the test ends, also an early one.
struct KillAtEnd {
    platform::ProcessHandle& handle;
    ~KillAtEnd() {
        handle.Terminate();
        handle.WaitForExit(std::chrono::seconds(10));
    }
};

// Our child has ended and still waits to be reaped.
inline bool IsUnreapedChild(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Nothing of ours is left to reap under that pid.
inline bool IsReaped(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
}

inline std::string ProcPath(pid_t pid, const std::string& leaf) {
    return "/proc/" + std::to_string(pid) + "/" + leaf;
}

inline std::string Canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

} // namespace vantrel::test
