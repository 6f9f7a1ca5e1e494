#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/event.h"
#include "platform/wait.h"

// Client processes: started from an argv (never through a shell), found again by their console
// title within one working directory, waited for, terminated, re-prioritised and pinned.
// A process is only ever addressed through a pidfd (on Windows a process handle), which cannot
// name a recycled process id. Process ids are plain integers on every system.
namespace vantrel::platform {

// A process id, as the system numbers processes (a thread id where a function says so).
using ProcessId = std::int64_t;

// Show commands, with the values of the window-system constants the engine passes around.
constexpr std::uint16_t SW_HIDE = 0;
constexpr std::uint16_t SW_SHOWNORMAL = 1;
constexpr std::uint16_t SW_SHOWMINIMIZED = 2;
constexpr std::uint16_t SW_MINIMIZE = 6;
constexpr std::uint16_t SW_SHOWMINNOACTIVE = 7;

// Priority classes, with their window-system values.
constexpr std::uint32_t IDLE_PRIORITY_CLASS = 0x40;
constexpr std::uint32_t NORMAL_PRIORITY_CLASS = 0x20;
constexpr std::uint32_t HIGH_PRIORITY_CLASS = 0x80;

// The environment variable that carries a client's console title; a client is found by it.
inline constexpr const char* kConsoleTitleVariable = "VANTREL_CONSOLE_TITLE";
// The show command a client was started with, in decimal, so a client (and a test) can see it.
inline constexpr const char* kShowCommandVariable = "VANTREL_SHOW_COMMAND";

struct ProcessStartInfo {
    std::vector<std::string> argv;   // argv[0] is the executable's path
    std::string workingDirectory;    // the child's current directory
    std::string consoleTitle;        // passed as VANTREL_CONSOLE_TITLE
    std::uint16_t showCommand = SW_HIDE;
};

// One process, held through a pidfd. Move-only; closing it never signals the process.
// When the process is our own child, the handle reaps it once it has ended (Wait* calls and the
// destructor do so without blocking; a child still running when its handle goes is reaped by a
// background thread when it ends), so no child of ours is left a zombie. A handle found by title
// never reaps, even when the process is our child: its starting handle does.
// A process we started leads a session of its own, and whatever it started goes with it: when
// its handle sees it end, and when the handle terminates it, every process in its cgroup where one
// was made for it is killed too (a child that left the instance directory or dropped its title,
// also one that began a session of its own), and that cgroup is then removed; without a cgroup
// the kernel can kill whole (cgroup.kill), every process left in its session or process group.
// A client started inside a terminal window is held as itself, not as the terminal, with the
// terminal kept beside it: every control reaches the client.
class ProcessHandle {
public:
    ProcessHandle() = default;
    ~ProcessHandle();
    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    bool IsValid() const { return m_pidfd >= 0; }
    ProcessId Pid() const { return m_pid; }
    // Ready for WaitForAny once the process has ended.
    WaitHandle ExitHandle() const { return {m_pidfd}; }
    // The process that owns the window: the terminal a client runs in, else the process itself.
    ProcessId WindowPid() const;

    // Waits for the process to end; no timeout waits forever. True when it has ended.
    bool WaitForExit(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    enum class WaitResult { Exited, EventSet, Failed };
    // Waits without timeout until the process ends or the event is set. When both hold, the
    // process's end wins.
    WaitResult WaitForExitOrEvent(const CEvent& event);

    // Sends SIGKILL through the pidfd, then to every other process of the client cgroup it is in
    // (or, without one the kernel can kill whole, of its session or process group), and ends its
    // terminal. False when it could not be
    // sent (the process has ended).
    bool Terminate();

    bool IsAlive() const;

    // Takes over the system's open handle of a process (a pidfd on Linux), which it then closes.
    // ownChild: we started it and must reap it. leader: we started it in a session of its own,
    // which ends when it ends.
    static ProcessHandle Adopt(WaitHandle process, ProcessId pid, bool ownChild, bool leader = false);

private:
    void ReapIfEnded();
    void EndSession();

    int m_pidfd = -1;
    ProcessId m_pid = 0;
    bool m_ownChild = false;
    bool m_reaped = false;
    bool m_bLeader = false;
    bool m_bSessionEnded = false;
    std::string m_strGroup;                    // the cgroup made for it when we started it
    std::unique_ptr<ProcessHandle> m_terminal; // the terminal window a client runs in
    int m_job = -1;                            // Windows: the job object the client runs in

    friend ProcessHandle StartProcess(const ProcessStartInfo& info);
    friend std::vector<ProcessHandle> FindProcessesByTitle(const std::string& title,
                                                           const std::string& workingDirectory);
};

// Starts a process: in a session of its own and, where this program may make one, in a cgroup
// of its own (see RemoveLeftoverClientGroups), cwd = workingDirectory, VANTREL_CONSOLE_TITLE =
// consoleTitle and VANTREL_SHOW_COMMAND = showCommand added to this program's environment. SW_HIDE: stdio on /dev/null, no window. Any other show command:
// inside a terminal emulator window with that title (minimised for SW_MINIMIZE,
// SW_SHOWMINIMIZED and SW_SHOWMINNOACTIVE) when a display and xterm are available, else hidden;
// the handle then holds the client inside the terminal, found once the terminal has started it.
// Returns an invalid handle when the process cannot be started (missing or not executable, no such
// working directory, an empty one): a client never runs anywhere but in its directory. On return
// the client can already be found by its title.
ProcessHandle StartProcess(const ProcessStartInfo& info);

// Every live process whose environment holds VANTREL_CONSOLE_TITLE equal to title and whose
// current directory is workingDirectory (compared after resolving both). The pidfd is opened
// before the environment and cwd are read, and the process is confirmed alive afterwards, so a
// recycled pid is never returned. Zombies have no readable environment and are never found.
std::vector<ProcessHandle> FindProcessesByTitle(const std::string& title, const std::string& workingDirectory);

// The same for many (title, workingDirectory) pairs in one pass over /proc: entry i holds the
// processes of pair i. One pass costs what one search costs, however many pairs are asked for.
std::vector<std::vector<ProcessHandle>>
FindProcessesByTitles(const std::vector<std::pair<std::string, std::string>>& wanted);

// How many times this program has walked the whole list of processes in /proc: a search by
// title is one walk however many pairs it asks for, and so is each pass of ending a client's
// session. For tests and diagnostics.
std::uint64_t CountProcessListWalks();

// Priority class on every thread of the process (IDLE: SCHED_IDLE; NORMAL: SCHED_OTHER nice 0;
// HIGH: SCHED_OTHER nice -10). A change the system refuses (no right to raise) is dropped, and
// *refused (when given) is set. Returns whether every thread took the change.
bool SetPriorityClass(const ProcessHandle& process, std::uint32_t priorityClass, bool* refused = nullptr);

// The priority class the process's main thread (or the thread with that tid) shows now, for tests
// and diagnostics; none when it matches none of the three exactly.
std::optional<std::uint32_t> GetPriorityClass(ProcessId pid);

// The processors this program may run on (sched_getaffinity, with a set sized for any processor
// count), in ascending order; empty when they cannot be read.
std::vector<unsigned> GetOwnProcessors();

// Binds every thread of the process to these processors; false when the system refuses (an
// empty list, or one with no processor the process may use).
bool SetProcessAffinity(const ProcessHandle& process, const std::vector<unsigned>& processors);

// The processors one thread (pid = tid of the main thread) may run on, ascending; empty when they
// cannot be read.
std::vector<unsigned> GetProcessorsOf(ProcessId tid);

// Shows, minimises or hides the window of a client started in a terminal, where the display
// allows (xdotool, finding the window by the process's pid); false when there is no window to
// change (a hidden client has none, nor the client inside a terminal: the terminal has it).
bool ShowProcessWindow(const ProcessHandle& process, std::uint16_t showCommand);

// Removes the empty client groups that copies of this program which no longer run left behind
// (see StartProcess); a group that still holds a process is removed by a small watcher process
// once that process ends. Returns how many went at once. A program that made client groups hands
// those still in use at its end (normal exit) to such a watcher too.
int RemoveLeftoverClientGroups();

// Whether path is a regular file this program may execute (the client can be started from it).
bool IsExecutableFile(const std::string& path);

// Adds the owner's execute bit to a regular file, as for a client just copied in from a download;
// false when the file cannot be changed.
bool AllowOwnerToExecute(const std::string& path);

// This program's own process id.
ProcessId CurrentProcessId();

// Runs the program at path in place of this one (argv as for main, ending in a null pointer);
// returns only when that fails, with errno saying why.
void ReplaceCurrentProgram(const std::string& path, char** argv);

// Lowers the calling thread's scheduling priority (a higher nice value for this thread only). The
// processes it starts afterwards still start at the program's own priority.
void LowerCurrentThreadPriority();

} // namespace vantrel::platform
