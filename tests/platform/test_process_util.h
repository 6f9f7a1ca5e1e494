#pragma once

#include "platform/process.h"
#include "platform/process_detail_linux.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>

// Helpers for the process tests: sleeping clients, polling with a deadline, and looking at a
// child from the outside through /proc and waitid.
namespace vantrel::test {

// The limit only ends a failing test; it is never what a test measures.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

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
