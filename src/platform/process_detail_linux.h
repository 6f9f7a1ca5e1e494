#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <sys/wait.h>
#include <vector>

// glibc 2.36 (Debian 12) declares the pidfd calls without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}

// Helpers shared by the Linux process files; not part of the platform contract.
namespace vantrel::platform::detail {

// waitid's id type for a pidfd (P_PIDFD), which the C library headers do not name yet.
inline constexpr idtype_t kWaitPidFd = static_cast<idtype_t>(3);

// The pids /proc shows now, each walk counted (see CountProcessListWalks).
std::vector<pid_t> ListProcesses();

// Reads a /proc file whole; they show a size of 0, so it reads to the end. None when it cannot be
// read (gone, no permission).
std::optional<std::string> ReadProcFile(const std::string& path);

// The environment entry that carries a console title: VANTREL_CONSOLE_TITLE=<title>.
std::string ConsoleTitleEntry(const std::string& title);

// Whether a NUL-separated environment block (as /proc shows it) holds exactly this entry.
bool HoldsEntry(const std::string& environment, const std::string& entry);

// The target of a symbolic link, however long; none when it cannot be read.
std::optional<std::string> ReadLinkPath(const std::string& path);

// The full path of an executable file called name in a directory of PATH; empty when there is
// none. Empty and relative PATH entries are skipped, so nothing is run from the current directory.
std::string FindOnPath(std::string_view name);

// Whether path is a regular file we may execute.
bool IsExecutableFile(const std::string& path);

// Whether the process behind a pidfd has ended (it may still be a zombie that nobody reaped).
bool PidFdHasEnded(int pidfd);

struct ProcStat {
    pid_t parent = 0;
    pid_t group = 0;
    pid_t session = 0;
};
// The parent, process group and session of a process, from /proc/PID/stat; none when gone.
std::optional<ProcStat> ReadProcStat(pid_t pid);

// Kills (SIGKILL) every process that list names and belongs confirms, each through a pidfd and
// confirmed again once that is open (a pid that passed to another process in between is left
// alone), pass after pass until a pass finds none it had not killed before; one that has ended
// already (a zombie nobody reaped yet) is left alone. Returns how many it killed.
int KillAllFound(const std::function<std::vector<pid_t>()>& list, const std::function<bool(pid_t)>& belongs);

// Kills (SIGKILL) every process, but this one, whose session or process group is the one leader
// leads, the leader included; returns how many. A client is started in a session of its own, so
// this ends all it started, also a child that left its directory or dropped its title. Only safe
// while leader's pid still names the leader or a member of its session (the pid is then not free
// to be reused): before its end is reaped, or while members are left.
int KillSessionOf(pid_t leader);

// A client's cgroup: made for it before it starts, so that all it starts stays inside, also a
// child that began a session of its own. Made as <own cgroup>/vantrel-clients/<our pid>-<count>
// where this program may write its cgroup (v2); empty where it may not (no cgroup2 hierarchy, a
// read-only one, no rights): the client then runs without one.
std::string MakeClientGroup();

// The client group (made by this or an earlier copy of the program) that a process is in, or the
// one above the group it is in; empty when it is in none.
std::string ClientGroupOf(pid_t pid);

// Kills (SIGKILL) every process in the group and in the groups below it: through cgroup.kill where
// the kernel has it, else member by member (KillGroupMembers). True when cgroup.kill took it: the
// kernel then reached every member, however fast it forks.
bool KillClientGroup(const std::string& group);

// Kills the group's members one by one, each through a pidfd and confirmed a member after it was
// opened, until none is left to kill; returns how many.
int KillGroupMembers(const std::string& group);

// Waits, a few seconds at most, for the group to hold no process (an ended one that nobody
// reaped does not count), then removes it. False when it is still there.
bool RemoveClientGroup(const std::string& group);

struct SpawnRequest {
    std::string executable; // the file to run, never searched in PATH
    std::vector<std::string> argv;
    const std::vector<std::string>* environment = nullptr; // null: this program's own
    std::string workingDirectory;                          // empty: ours
    int standardOutput = -1;                               // -1: /dev/null
    bool newSession = false;
    std::string group; // a client group the child joins before its exec; empty: none
};

// What SpawnProcess returns when the child could not join its group (or could not be forked to
// join it); nothing was started.
inline constexpr int kGroupRefused = -1;

// Starts a child: argv only, stdin and stderr on /dev/null, every other descriptor closed, signal
// mask and dispositions back to their defaults. A failed chdir or exec comes back here as its
// errno (0 on success), so the caller knows at once. Without a group it uses posix_spawn; with
// one the child is forked and joins the group before it runs anything of its own. A child never
// gets the lowered priority of a calling thread that has lowered its own (see MarkThreadLowered).
int SpawnProcess(const SpawnRequest& request, pid_t& pid);

// SpawnProcess's way for a child with a group: forked, it joins the group, then execs.
int SpawnIntoGroup(const SpawnRequest& request, pid_t& pid);

// The strings as the NULL-terminated pointer array that exec takes; valid while they live.
std::vector<char*> PointersTo(const std::vector<std::string>& strings);

// Called by a thread just before it lowers its own priority, which it may not raise again: from
// then on its children are started by a launcher thread that keeps the program's priority (a
// child inherits the priority of the thread that forks it).
void MarkThreadLowered();

} // namespace vantrel::platform::detail
