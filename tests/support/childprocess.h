#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vantrel::test {

// A helper child for tests, started with fork/exec (CreateProcess on Windows) and killed and
// reaped when the object goes.
// Its standard input is a pipe the test can close; its standard output is read line by line.
class TestChild {
public:
    // Starts argv in cwd (empty: the test's own) with extra environment entries "NAME=value".
    TestChild(const std::vector<std::string>& argv, const std::string& cwd = {},
              const std::vector<std::string>& extraEnv = {});
    ~TestChild();
    TestChild(const TestChild&) = delete;
    TestChild& operator=(const TestChild&) = delete;

    pid_t Pid() const { return m_pid; }
    // Reads one line of the child's output (without its line end); empty at its end.
    std::string ReadLine();
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
