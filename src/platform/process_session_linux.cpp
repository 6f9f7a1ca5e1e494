#include "platform/process_detail_linux.h"
#include "platform/uniquefd_linux.h"

#include <charconv>
#include <csignal>
#include <functional>
#include <unordered_set>
#include <unistd.h>

// What a client started: every process of the session or process group it leads, found in /proc,
// so that a child that left the instance directory or dropped its title still ends with it.
namespace vantrel::platform::detail {

namespace {

// A process that keeps forking is not chased for ever; each pass kills what it finds.
constexpr int kMaxKillPasses = 16;

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
    // A pass ends the search when it finds nothing it had not killed already: a process killed a
    // pass before may still be on its way out, and a client that just ended stays listed, its
    // session's and group's leader, until it is reaped.
    std::unordered_set<pid_t> killed;
    for (int pass = 0; pass < kMaxKillPasses; ++pass) {
        bool foundNew = false;
        for (pid_t pid : list()) {
            if (!belongs(pid))
                continue;
            // Through a pidfd, confirmed after opening it: a pid that passed to another process
            // between the look and the kill is left alone.
            UniqueFd pidfd(pidfd_open(pid, 0));
            if (!pidfd.IsValid() || !belongs(pid) || PidFdHasEnded(pidfd.Get()))
                continue;
            if (pidfd_send_signal(pidfd.Get(), SIGKILL, nullptr, 0) == 0 && killed.insert(pid).second)
                foundNew = true;
        }
        if (!foundNew)
            break;
    }
    return static_cast<int>(killed.size());
}

int KillSessionOf(pid_t leader) {
    if (leader <= 1)
        return 0;
    const pid_t self = getpid();
    return KillAllFound(ListProcesses, [&](pid_t pid) { return pid != self && InSessionOrGroup(pid, leader); });
}

} // namespace vantrel::platform::detail
