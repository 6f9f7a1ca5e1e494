#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vantrel::test {

// Where a helper child's output goes instead of the pipe (standard output) and the test's own
// standard error: files it appends to, one and the same when both name it ("NUL" on Windows and
// "/dev/null" on Linux drop it). Empty: the default.
struct ChildOutput {
    std::string outFile;
    std::string errFile;
};

// A helper child for tests, started with fork/exec (CreateProcess on Windows) and killed and
// reaped when the object goes.
// Its standard input is a pipe the test can close; its standard output is read line by line.
class TestChild {
public:
    // Starts argv in cwd (empty: the test's own) with extra environment entries "NAME=value", each
    // in place of an inherited one of that name.
    TestChild(const std::vector<std::string>& argv, const std::string& cwd = {},
              const std::vector<std::string>& extraEnv = {}, const ChildOutput& output = {});
    ~TestChild();
    TestChild(const TestChild&) = delete;
    TestChild& operator=(const TestChild&) = delete;

    pid_t Pid() const { return m_pid; }
    // Reads one line of the child's output (without its line end); empty at its end.
    std::string ReadLine();
    // Reads the rest of the child's output, until every writer has closed it.
    std::string ReadToEnd();
    // Closes the child's standard input.
    void CloseInput();
    // Kills and reaps the child; returns its wait status.
    int Kill();
    // Waits for the child to end; returns its wait status.
    int Wait();

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    bool m_reaped = false;
    int m_status = 0;
    std::intptr_t m_process = 0; // Windows: the process's handle, which keeps its id its own
};

// The inherited "NAME=value" entries with extra's added, each in place of any of the same name.
std::vector<std::string> MergeEnvironmentEntries(std::vector<std::string> inherited,
                                                 const std::vector<std::string>& extra);

// The exit code in a status that Wait or Kill returned, else -1 (ended by a signal, Linux only).
int ChildExitCode(int status);

// Children of this process that have ended and not been reaped (always none on Windows, where an
// ended child leaves no entry behind).
int CountZombieChildren();

// Whether the process with this id still runs (a zombie does not).
bool IsProcessRunning(long pid);

// The argv that starts the lock holder on path with the given lock kind ("flock", "posix", "ofd");
// the child prints "locked" once it holds the lock.
std::vector<std::string> LockHolderArgs(const std::string& kind, const std::string& path);

} // namespace vantrel::test
