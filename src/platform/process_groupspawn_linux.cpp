#include "platform/process_detail_linux.h"
#include "platform/uniquefd_linux.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

// A child that is in its client group before it runs anything of its own, so nothing it starts can
// be outside. posix_spawn cannot do that step, so the child is cloned straight into the group
// (CLONE_INTO_CGROUP, Linux 5.7), or, where the kernel cannot, forked and moved into it; between
// the fork and exec it makes only async-signal-safe calls: the program has other threads whose
// locks it may hold. Moving a process into a group waits for the kernel to quiesce every thread
// that forks, several milliseconds on each start, which the clone does not.
namespace vantrel::platform::detail {

namespace {

enum EStage : int { ST_GROUP = 1, ST_START = 2 };

// What a child that could not start tells its parent through the report pipe.
struct ChildFailure {
    int stage = 0;
    int error = 0;
};

// A descriptor above the standard ones, so opening /dev/null on 0 to 2 in the child cannot hit it.
int AboveStandard(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

[[noreturn]] void FailInChild(int report, EStage stage) {
    ChildFailure failure{stage, errno};
    // A short write loses only the reason: the parent then sees an exec that never happened.
    ssize_t written = write(report, &failure, sizeof failure);
    (void)written;
    _exit(127);
}

bool OpenNullOn(int target, int flags) {
    int fd = open("/dev/null", flags);
    if (fd < 0)
        return false;
    if (fd == target)
        return true;
    bool moved = dup2(fd, target) == target;
    close(fd);
    return moved;
}

// Closes every descriptor from 3 up, except keep (which closes itself at exec).
void CloseAllBut(int keep) {
    if (close_range(3, static_cast<unsigned>(keep - 1), 0) == 0 &&
        close_range(static_cast<unsigned>(keep + 1), ~0U, 0) == 0)
        return;
    rlimit limit{};
    int last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                   ? static_cast<int>(limit.rlim_cur)
                   : 65536;
    for (int fd = 3; fd < last; ++fd)
        if (fd != keep)
            close(fd);
}

struct ChildPlan {
    const SpawnRequest& request;
    char* const* argv;
    char* const* environment;
    int group;  // cgroup.procs of the group, open for writing
    int report; // the pipe's writing end, closed by a successful exec
};

[[noreturn]] void RunChild(const ChildPlan& plan, bool inGroup) {
    // "0" moves the writer itself.
    if (!inGroup && write(plan.group, "0", 1) != 1)
        FailInChild(plan.report, ST_GROUP);
    close(plan.group);
    // Every signal is blocked since before the fork: no handler of ours runs here.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            sigaction(signal, &byDefault, nullptr);
    const SpawnRequest& request = plan.request;
    if (request.newSession && setsid() < 0)
        FailInChild(plan.report, ST_START);
    // The output first: if it is 0 or 2 itself, the /dev/null opens below would close it.
    bool output = request.standardOutput < 0       ? OpenNullOn(1, O_WRONLY)
                  : request.standardOutput == 1 ? fcntl(1, F_SETFD, 0) == 0
                                                : dup2(request.standardOutput, 1) == 1;
    if (!output || !OpenNullOn(0, O_RDONLY) || !OpenNullOn(2, O_WRONLY))
        FailInChild(plan.report, ST_START);
    if (!request.workingDirectory.empty() && chdir(request.workingDirectory.c_str()) != 0)
        FailInChild(plan.report, ST_START);
    CloseAllBut(plan.report);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(request.executable.c_str(), plan.argv, plan.environment);
    FailInChild(plan.report, ST_START);
}

// A child like fork's, born in the group whose directory is open as groupDirectory; -1 with errno
// when the kernel cannot (before 5.7, or a group it refuses).
pid_t CloneIntoGroup(int groupDirectory) {
    clone_args args{};
    args.flags = CLONE_INTO_CGROUP;
    args.exit_signal = SIGCHLD;
    args.cgroup = static_cast<std::uint64_t>(groupDirectory);
    return static_cast<pid_t>(syscall(SYS_clone3, &args, sizeof args));
}

} // namespace

int SpawnIntoGroup(const SpawnRequest& request, pid_t& pid) {
    UniqueFd group(AboveStandard(open((request.group + "/cgroup.procs").c_str(), O_WRONLY | O_CLOEXEC)));
    UniqueFd directory(open(request.group.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!group.IsValid() || !directory.IsValid())
        return kGroupRefused;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return errno;
    UniqueFd reader(AboveStandard(ends[0]));
    UniqueFd writer(AboveStandard(ends[1]));
    if (!reader.IsValid() || !writer.IsValid())
        return EMFILE;
    // Everything the child needs is made here: it may not allocate.
    std::vector<char*> argv = PointersTo(request.argv);
    std::vector<char*> envp = request.environment ? PointersTo(*request.environment) : std::vector<char*>();
    const ChildPlan plan{request, argv.data(), request.environment ? envp.data() : environ, group.Get(), writer.Get()};

    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pid_t child = CloneIntoGroup(directory.Get());
    if (child == 0)
        RunChild(plan, true);
    if (child < 0) {
        child = fork();
        if (child == 0)
            RunChild(plan, false);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    // A fork copies (lazily) all our memory, which a strict overcommit may refuse: posix_spawn,
    // without a group, does not.
    if (child < 0)
        return kGroupRefused;
    writer.Reset();

    ChildFailure failure;
    ssize_t got;
    while ((got = read(reader.Get(), &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    if (got == 0) {
        pid = child; // the exec closed the pipe: the client runs
        return 0;
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (got != static_cast<ssize_t>(sizeof failure))
        return EIO;
    return failure.stage == ST_GROUP ? kGroupRefused : failure.error;
}

} // namespace vantrel::platform::detail
