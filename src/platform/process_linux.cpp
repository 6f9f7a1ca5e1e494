#include "platform/process.h"
#include "platform/process_detail_linux.h"
#include "platform/wait_linux.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace vantrel::platform {

namespace {

// The new program's environment normally shows within a millisecond; this only bounds a stall.
constexpr std::chrono::seconds kTitleVisibleLimit{5};
// A terminal needs its display before it starts the client in it; a loaded machine is slow.
constexpr std::chrono::seconds kTerminalClientLimit{30};
// How far below the terminal the client may be (a locale helper may stand between them).
constexpr int kTerminalClientDepth = 3;

bool IsMinimisedShow(std::uint16_t showCommand) {
    return showCommand == SW_MINIMIZE || showCommand == SW_SHOWMINIMIZED || showCommand == SW_SHOWMINNOACTIVE;
}

// Ends what a client started: its cgroup's processes, or, without a group the kernel could kill
// whole, the rest of its session (while its pid is still its own, before the reap), and removes
// the cgroup. The group holds all the session holds: only a walk through every process in /proc
// finds the session, a walk on every client's end, 64 at an exit.
void EndClientTree(pid_t pid, const std::string& group) {
    if (!detail::KillClientGroup(group))
        detail::KillSessionOf(pid);
    detail::RemoveClientGroup(group);
}

// A child of ours that is still running when its handle goes: a detached thread waits for its
// end, ends what it started and reaps it, so it never stays a zombie. Closing a handle never
// signals the process.
void ReapInBackground(int pidfd, pid_t pid, bool endSession, std::string group) noexcept {
    try {
        std::thread([pidfd, pid, endSession, group = std::move(group)] {
            siginfo_t info{};
            while (waitid(detail::kWaitPidFd, pidfd, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
            }
            if (endSession)
                EndClientTree(pid, group);
            while (waitid(detail::kWaitPidFd, pidfd, &info, WEXITED) < 0 && errno == EINTR) {
            }
            close(pidfd);
        }).detach();
    } catch (const std::exception&) {
        // No thread to spare: the child stays a zombie until this program ends.
        close(pidfd);
    }
}

// This program's environment with the title and show command of the client; entries of the same
// names that we inherited ourselves are left out, so the client sees only its own.
std::vector<std::string> ClientEnvironment(const ProcessStartInfo& info) {
    const std::string titlePrefix = detail::ConsoleTitleEntry("");
    const std::string showPrefix = std::string(kShowCommandVariable) + "=";
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        if (!text.starts_with(titlePrefix) && !text.starts_with(showPrefix))
            environment.emplace_back(text);
    }
    environment.push_back(detail::ConsoleTitleEntry(info.consoleTitle));
    environment.push_back(showPrefix + std::to_string(info.showCommand));
    return environment;
}

// The terminal emulator for a client that is to be seen: xterm, when there is a display (under
// Wayland the Xwayland server sets DISPLAY too) and xterm is on PATH. Empty: run hidden.
std::string TerminalForShownClient(std::uint16_t showCommand) {
    if (showCommand == SW_HIDE)
        return {};
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        return {};
    return detail::FindOnPath("xterm");
}

// A relative executable path means one relative to us, not to the child's new directory.
std::string ExecutablePath(const std::string& path) {
    if (path.empty() || path.front() == '/')
        return path;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? std::string() : absolute.string();
}

// posix_spawn returns once the child has passed the point of no return of its exec, but before
// the kernel has laid out the new program's environment; until then /proc shows it empty and a
// search by title would miss the client (a kill at exit among others). Waits for the title to
// show, for the process to end, or for the environment to turn out unreadable.
void AwaitVisibleTitle(pid_t pid, int pidfd, const std::string& titleEntry) {
    const auto deadline = std::chrono::steady_clock::now() + kTitleVisibleLimit;
    for (;;) {
        std::optional<std::string> environment = detail::ReadProcFile("/proc/" + std::to_string(pid) + "/environ");
        if (!environment || detail::HoldsEntry(*environment, titleEntry) || detail::PidFdHasEnded(pidfd) ||
            std::chrono::steady_clock::now() > deadline)
            return;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Whether pid lies below ancestor, within a few generations.
bool DescendsFrom(pid_t pid, pid_t ancestor) {
    for (int depth = 0; depth < kTerminalClientDepth; ++depth) {
        std::optional<detail::ProcStat> stat = detail::ReadProcStat(pid);
        if (!stat || stat->parent <= 1)
            return false;
        if (stat->parent == ancestor)
            return true;
        pid = stat->parent;
    }
    return false;
}

// The client a terminal runs: the process below it with the client's title in the client's
// directory. None when the terminal ends first or the client does not show in time.
std::optional<ProcessHandle> AwaitClientInTerminal(const ProcessHandle& terminal, const ProcessStartInfo& info) {
    const auto deadline = std::chrono::steady_clock::now() + kTerminalClientLimit;
    auto exeOf = [](pid_t pid) { return detail::ReadLinkPath("/proc/" + std::to_string(pid) + "/exe"); };
    const std::optional<std::string> terminalExe = exeOf(terminal.Pid());
    for (;;) {
        // The terminal's forked copy carries title and directory before it has run the client.
        for (ProcessHandle& found : FindProcessesByTitle(info.consoleTitle, info.workingDirectory))
            if (found.Pid() != terminal.Pid() && DescendsFrom(found.Pid(), terminal.Pid()) &&
                exeOf(found.Pid()) != terminalExe)
                return std::move(found);
        if (!terminal.IsAlive() || std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

ProcessHandle::~ProcessHandle() {
    if (m_pidfd < 0)
        return;
    ReapIfEnded();
    if (m_ownChild && !m_reaped)
        ReapInBackground(m_pidfd, m_pid, m_bLeader && !m_bSessionEnded, std::move(m_strGroup));
    else
        close(m_pidfd);
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : m_pidfd(std::exchange(other.m_pidfd, -1)), m_pid(std::exchange(other.m_pid, 0)),
      m_ownChild(std::exchange(other.m_ownChild, false)), m_reaped(std::exchange(other.m_reaped, false)),
      m_bLeader(std::exchange(other.m_bLeader, false)), m_bSessionEnded(std::exchange(other.m_bSessionEnded, false)),
      m_strGroup(std::move(other.m_strGroup)), m_terminal(std::move(other.m_terminal)) {}

ProcessHandle ProcessHandle::Adopt(WaitHandle process, ProcessId pid, bool ownChild, bool leader) {
    ProcessHandle handle;
    handle.m_pidfd = FdOf(process);
    handle.m_pid = pid;
    handle.m_ownChild = ownChild;
    handle.m_bLeader = leader;
    return handle;
}

ProcessId ProcessHandle::WindowPid() const {
    return m_terminal ? m_terminal->Pid() : m_pid;
}

void ProcessHandle::EndSession() {
    if (!m_bLeader || m_bSessionEnded)
        return;
    m_bSessionEnded = true;
    EndClientTree(m_pid, std::exchange(m_strGroup, std::string()));
}

void ProcessHandle::ReapIfEnded() {
    if (m_pidfd < 0 || m_reaped)
        return;
    if (m_bLeader && !m_bSessionEnded) {
        if (!detail::PidFdHasEnded(m_pidfd))
            return;
        // Before the reap: until then the pid cannot pass to another process.
        EndSession();
    }
    if (!m_ownChild)
        return;
    siginfo_t info{};
    int rc;
    while ((rc = waitid(detail::kWaitPidFd, m_pidfd, &info, WEXITED | WNOHANG)) < 0 && errno == EINTR) {
    }
    // ECHILD: nothing left to reap (somebody waited for every child of ours).
    if ((rc == 0 && info.si_pid != 0) || (rc < 0 && errno == ECHILD))
        m_reaped = true;
}

bool ProcessHandle::WaitForExit(std::optional<std::chrono::milliseconds> timeout) {
    if (m_pidfd < 0)
        return false;
    if (m_reaped)
        return true;
    if (WaitForAnyFd({m_pidfd}, timeout) != 0)
        return false;
    ReapIfEnded();
    return true;
}

bool ProcessHandle::Terminate() {
    if (m_pidfd < 0)
        return false;
    // A process found by its title may be in the group of a client started earlier. Looked up
    // before the kill (once reaped, its /proc entry is gone) and kept only if it is still alive
    // after the look (so the pid named it).
    std::string group = m_strGroup.empty() && !m_bLeader ? detail::ClientGroupOf(m_pid) : std::string();
    if (detail::PidFdHasEnded(m_pidfd)) {
        ReapIfEnded();
        return false;
    }
    if (m_strGroup.empty())
        m_strGroup = std::move(group);
    bool sent = pidfd_send_signal(m_pidfd, SIGKILL, nullptr, 0) == 0;
    // Whatever it started goes too; a found process may lead a session of ours as well.
    m_bLeader = true;
    EndSession();
    if (m_terminal)
        m_terminal->Terminate();
    ReapIfEnded();
    return sent;
}

bool ProcessHandle::IsAlive() const {
    return m_pidfd >= 0 && !detail::PidFdHasEnded(m_pidfd);
}

ProcessHandle StartProcess(const ProcessStartInfo& info) {
    // Without a directory the client would run wherever we happen to be.
    if (info.argv.empty() || info.workingDirectory.empty())
        return {};
    detail::SpawnRequest request;
    request.executable = ExecutablePath(info.argv[0]);
    if (request.executable.empty())
        return {};
    request.argv = info.argv;
    std::string terminal = TerminalForShownClient(info.showCommand);
    if (!terminal.empty()) {
        // Inside a terminal a missing client would only show as a message in its window.
        if (!detail::IsExecutableFile(request.executable))
            return {};
        request.argv = {terminal, "-T", info.consoleTitle};
        if (IsMinimisedShow(info.showCommand))
            request.argv.push_back("-iconic");
        request.argv.push_back("-e");
        request.argv.push_back(request.executable);
        request.argv.insert(request.argv.end(), info.argv.begin() + 1, info.argv.end());
        request.executable = terminal;
    }
    std::vector<std::string> environment = ClientEnvironment(info);
    request.environment = &environment;
    request.workingDirectory = info.workingDirectory;
    request.newSession = true;
    request.group = detail::MakeClientGroup();

    pid_t pid = -1;
    int rc = detail::SpawnProcess(request, pid);
    if (rc == detail::kGroupRefused) {
        // A group we may make but not enter: the session alone holds the client.
        detail::RemoveClientGroup(request.group);
        request.group.clear();
        rc = detail::SpawnProcess(request, pid);
    }
    if (rc != 0) {
        detail::RemoveClientGroup(request.group);
        return {};
    }
    // Our child cannot be recycled before we reap it, so the pid still names it here.
    int pidfd = pidfd_open(pid, 0);
    if (pidfd < 0) {
        // A process we cannot hold safely is not left running.
        kill(pid, SIGKILL);
        EndClientTree(pid, request.group);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return {};
    }
    ProcessHandle started = ProcessHandle::Adopt({pidfd}, pid, true, true);
    started.m_strGroup = std::move(request.group);
    if (terminal.empty()) {
        AwaitVisibleTitle(pid, pidfd, detail::ConsoleTitleEntry(info.consoleTitle));
        return started;
    }
    // The controls must reach the client itself, not the terminal around it.
    std::optional<ProcessHandle> client = AwaitClientInTerminal(started, info);
    if (!client) {
        started.Terminate();
        return {};
    }
    client->m_bLeader = true;
    // The group holds the terminal and the client; it is the client's end that ends it.
    client->m_strGroup = std::exchange(started.m_strGroup, std::string());
    client->m_terminal = std::make_unique<ProcessHandle>(std::move(started));
    return std::move(*client);
}

} // namespace vantrel::platform
