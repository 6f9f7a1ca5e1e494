#pragma once

#include "support/childprocess.h"
#include "support/tempdir.h"
#include "support/wait.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::test {

// Runs the simulated client as a real child in instance directories of a temp directory, with
// its own server directory and short timings.
class SimTest : public ::testing::Test {
protected:
    SimTest();

    // Instance directory n, created when missing.
    std::string Instance(int n) const;
    std::string ServerDir() const { return m_temp / "server"; }

    // Starts the client in dir; env entries "NAME=value" replace the test's defaults.
    std::unique_ptr<TestChild> Start(const std::string& dir, const std::vector<std::string>& args,
                                     const std::vector<std::string>& env = {}) const;
    // Runs the client to its end: its exit code, 128 + the signal that ended it, or -1 when it
    // did not end within 30 seconds (it is killed then).
    int Run(const std::string& dir, const std::vector<std::string>& args,
            const std::vector<std::string>& env = {}) const;

    TempDir m_temp;
    std::map<std::string, std::string> m_env;
};

// Waits for the child's end without reaping it; false when it is still running after limit.
bool WaitForEnd(const TestChild& child, std::chrono::milliseconds limit);
// The exit code of a wait status, or 128 + the signal number.
int ExitCode(int status);
// The exit code of a child the test killed, and of a client that crashed (aborted).
int KilledExitCode();
int CrashExitCode();
// Whether another process holds path locked (on Windows: has it open without sharing), probed
// as Vantrel probes it.
bool IsLockHeld(const std::string& path);
bool Exists(const std::string& path);
// The value of the first "key=" line of a data file's text, or nothing.
std::optional<std::string> ValueOf(const std::string& text, const std::string& key);
// The names in a directory, sorted; none when it does not exist.
std::vector<std::string> ListDir(const std::string& dir);

} // namespace vantrel::test
