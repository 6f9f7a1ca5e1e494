#include "platform/process_detail_linux.h"
#include "platform/uniquefd_linux.h"

#include <charconv>
#include <csignal>
#include <filesystem>
#include <functional>
#include <unistd.h>

// What a client started: every process of the session or process group it leads, found in /proc,
// so that a child that left the instance directory or dropped its title still ends with it.
namespace vantrel::platform::detail {

namespace {

// A process that keeps forking is not chased for ever; each pass kills what it finds.
constexpr int kMaxKillPasses = 16;

std::optional<pid_t> ParseNumber(std::string_view text) {
    pid_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0)
        return std::nullopt;
    return value;
}

std::vector<pid_t> ListProcesses() {
    std::vector<pid_t> pids;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error))
        if (std::optional<pid_t> pid = ParseNumber(it->path().filename().string()))
            pids.push_back(*pid);
    return pids;
}

bool InSessionOrGroup(pid_t pid, pid_t leader) {
    std::optional<ProcStat> stat = ReadProcStat(pid);
    return stat && (stat->session == leader || stat->group == leader);
}

} // namespace

std::optional<ProcStat> ReadProcStat(pid_t pid) {
    std::optional<std::string> text = ReadProcFile("/proc/" + std::to_string(pid) + "/stat");
    if (!text)
        return std::nullopt;
    // "pid (comm) state ppid pgrp session ...": the name may hold blanks and parentheses.
    std::size_t close = text->rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::string_view rest = std::string_view(*text).substr(close + 1);
    pid_t fields[3] = {};
    for (int field = -1; field < 3; ++field) {
        std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos)
            return std::nullopt;
        rest.remove_prefix(start);
        std::string_view word = rest.substr(0, rest.find(' '));
        rest.remove_prefix(word.size());
        if (field < 0)
            continue; // the state letter
        std::from_chars(word.data(), word.data() + word.size(), fields[field]);
    }
    return ProcStat{fields[0], fields[1], fields[2]};
}

int KillAllFound(const std::function<std::vector<pid_t>()>& list, const std::function<bool(pid_t)>& belongs) {
    int killed = 0;
    for (int pass = 0; pass < kMaxKillPasses; ++pass) {
        int found = 0;
        for (pid_t pid : list()) {
            if (!belongs(pid))
                continue;
            // Through a pidfd, confirmed after opening it: a pid that passed to another process
            // between the look and the kill is left alone.
            UniqueFd pidfd(pidfd_open(pid, 0));
            if (!pidfd.IsValid() || !belongs(pid))
                continue;
            if (pidfd_send_signal(pidfd.Get(), SIGKILL, nullptr, 0) == 0) {
                ++found;
                ++killed;
            }
        }
        if (found == 0)
            break;
    }
    return killed;
}

int KillSessionOf(pid_t leader) {
    if (leader <= 1)
        return 0;
    const pid_t self = getpid();
    return KillAllFound(ListProcesses, [&](pid_t pid) { return pid != self && InSessionOrGroup(pid, leader); });
}

} // namespace vantrel::platform::detail
