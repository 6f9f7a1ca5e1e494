#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fileops.h"
#include "support/childprocess.h"
#include "support/tempdir.h"
#include "support/wait.h"

// Outside programs for the end-to-end test: an X server, a tray host, the program itself and the
// X tools that look at the screen. Each is started without a shell, in its own environment.
namespace vantrel::e2e {

using Environment = std::map<std::string, std::string>;

// The full path of a program found on PATH, or none.
std::optional<std::string> FindProgram(const std::string& name);

// This process's environment with the given entries replaced or added.
Environment MergedEnvironment(const Environment& changes);

// LSAN_OPTIONS for the program of a sanitized build: the system libraries' own leaks are not its
// own (Linux).
std::string LeakOptions();

// A running child: asked to end (SIGTERM), then killed, and reaped when the object goes, unless it
// has ended by then. On Windows it is killed at once.
class CChild {
public:
    // stdout goes to a pipe that ReadLine reads when captureOutput (Linux only), else to logPath
    // with stderr.
    CChild(const std::vector<std::string>& argv, const Environment& env, const std::string& cwd,
           const std::string& logPath, bool captureOutput = false);
    ~CChild();
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // One line of the captured output; none at its end.
    std::optional<std::string> ReadLine();
    // The exit status (as waitpid gives it; on Windows the exit code) once the child has ended
    // within timeout; none when it still runs.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

private:
    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_out = -1;
    std::optional<int> m_status;
    std::unique_ptr<test::TestChild> m_child; // Windows: started by the tests' own helper
    std::intptr_t m_process = 0;              // Windows: a handle to wait on for a while
};

struct RunResult {
    int exitCode = -1; // -1: did not end normally in time
    std::string output;
};

// Runs a program to its end (at most timeout) and returns its exit code and standard output.
RunResult RunToEnd(const std::vector<std::string>& argv, const Environment& env,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Outside programs tell nobody when they are ready, so the test looks.
using test::WaitUntil;

// Waits until shown() holds, at most timeout. When the program ends first the wait stops there,
// and a failure says so with what the program wrote to its log, so a start that failed is told
// apart from a slow one.
inline ::testing::AssertionResult ShownWhileRunning(CChild& program, const std::string& logPath,
                                                    const std::function<bool()>& shown,
                                                    std::chrono::milliseconds timeout) {
    std::optional<int> ended;
    if (WaitUntil([&] { return shown() || (ended = program.WaitForExit(std::chrono::milliseconds(0))).has_value(); },
                  timeout) &&
        !ended)
        return ::testing::AssertionSuccess();
    std::string log = platform::ReadFileText(logPath, 1u << 20).value_or("");
    if (log.size() > 4000)
        log = "..." + log.substr(log.size() - 4000);
    return ::testing::AssertionFailure()
           << (ended ? "the program ended (status " + std::to_string(*ended) + ") first"
                     : "not within " + std::to_string(timeout.count()) + " ms; the program still runs")
           << "; its log " << logPath << " ends:\n"
           << log;
}

// An X server of its own (Xvfb, a free display number it picks and tells once it accepts
// clients), with a screen of 1280x800.
class CVirtualDisplay {
public:
    CVirtualDisplay(const std::string& xvfb, const std::string& logPath);
    // ":N", or empty when the server did not start.
    const std::string& Name() const { return m_name; }

private:
    CChild m_server;
    std::string m_name;
};

// The ids of the mapped windows named title, or title, " - " and more (a copy that names its
// program directory), by xdotool search --onlyvisible; title is a regular expression.
std::string VisibleWindows(const std::string& xdotool, const Environment& env, const std::string& title);

// A test's folders: a temp root with "program" (made) and "runtime" (made, owner-only, for the
// per-user sockets), and the build tree's folder for screenshots and logs.
struct Workspace {
    Workspace();
    test::TempDir work;
    std::string program;
    std::string runtime;
    std::string logs;
};

// Copies the built program and the simulated client into dir, as a portable copy has them.
bool InstallPortableCopy(const std::string& dir);

// Processes that carry a console title (VANTREL_CONSOLE_TITLE) and work in a directory beneath
// dir: the clients a program in dir started, each with its title. Linux: read from /proc.
struct ClientProcess {
    pid_t pid = 0;
    std::string title;
};
std::vector<ClientProcess> ClientsBeneath(const std::string& dir);

} // namespace vantrel::e2e
