#include "platform/uniquefd_linux.h"
#include "platform/process.h"
#include "platform/process_detail_linux.h"
#include "platform/wait_linux.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

// A client that runs visibly runs inside an xterm we started; its window is changed with xdotool,
// found by the pid the terminal announces on it (_NET_WM_PID). That pid, unlike the title, is
// never shared with a client of another program directory.
namespace vantrel::platform {

namespace {

// A window tool that does not answer within this time is given up (a stuck display server must
// not hang the caller).
constexpr std::chrono::milliseconds kToolTimeLimit{5000};

// Runs a tool and returns what it printed, or none when it could not run, failed or took too long.
std::optional<std::string> RunTool(const std::vector<std::string>& argv) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return std::nullopt;
    UniqueFd readEnd(pipeEnds[0]);
    UniqueFd writeEnd(pipeEnds[1]);
    detail::SpawnRequest request;
    request.executable = argv.front();
    request.argv = argv;
    request.standardOutput = writeEnd.Get();
    pid_t pid = -1;
    if (detail::SpawnProcess(request, pid) != 0)
        return std::nullopt;
    writeEnd.Reset();

    std::string output;
    bool finished = false;
    const CWaitDeadline deadline(kToolTimeLimit);
    while (!finished) {
        if (deadline.Passed() || WaitForAnyFd({readEnd.Get()}, std::chrono::milliseconds(*deadline.Left())) != 0)
            break;
        char buffer[512];
        ssize_t got = read(readEnd.Get(), buffer, sizeof buffer);
        if (got > 0)
            output.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0)
            finished = true;
        else if (errno != EINTR)
            break;
    }
    // Our own unreaped child: its pid cannot have passed to another process.
    if (!finished)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

std::vector<std::string> WindowIds(const std::string& listing) {
    std::vector<std::string> ids;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        std::string line = listing.substr(start, end - start);
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
            ids.push_back(line);
        start = end + 1;
    }
    return ids;
}

std::vector<std::string> WindowActions(std::uint16_t showCommand) {
    switch (showCommand) {
    case SW_HIDE:
        return {"windowunmap"};
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
        // A hidden window must be mapped before it can be iconified.
        return {"windowmap", "windowminimize"};
    default:
        return {"windowmap"};
    }
}

} // namespace

bool ShowProcessWindow(const ProcessHandle& process, std::uint16_t showCommand) {
    const char* display = std::getenv("DISPLAY");
    if (!process.IsAlive() || display == nullptr || *display == '\0')
        return false;
    const std::string xdotool = detail::FindOnPath("xdotool");
    if (xdotool.empty())
        return false;
    // xdotool fails when no window matches, which is the answer for a hidden client.
    std::optional<std::string> listing = RunTool({xdotool, "search", "--pid", std::to_string(process.WindowPid())});
    if (!listing)
        return false;
    std::vector<std::string> windows = WindowIds(*listing);
    bool allChanged = !windows.empty();
    for (const std::string& window : windows)
        for (const std::string& action : WindowActions(showCommand))
            allChanged = RunTool({xdotool, action, window}).has_value() && allChanged;
    return allChanged;
}

} // namespace vantrel::platform
