#include "platform/process.h"
#include "support/childprocess.h"
#include "support/tempdir.h"
#include "test_process_util.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace vantrel::test {
namespace {

using platform::ProcessHandle;
using platform::StartProcess;

// Sets an environment variable for one test (each test runs before it starts any thread).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

std::string ExeOf(pid_t pid) {
    return platform::detail::ReadLinkPath(ProcPath(pid, "exe")).value_or("");
}

TEST(ProcessWindow, WithoutDisplayOrTerminalAShownClientRunsHidden) {
    TempDir dir;
    for (bool display : {false, true}) {
        ScopedEnv displayEnv("DISPLAY", display ? std::optional<std::string>(":99") : std::nullopt);
        ScopedEnv path("PATH", dir.Path()); // no xterm here
        ProcessHandle client = StartProcess(SleepClient(dir.Path(), "ORVA 1", platform::SW_SHOWNORMAL));
        ASSERT_TRUE(client.IsValid());
        KillAtEnd end{client};
        EXPECT_EQ(ExeOf(client.Pid()), Canonical("/bin/sleep"));
        EXPECT_EQ(platform::detail::ReadLinkPath(ProcPath(client.Pid(), "fd/0")), "/dev/null");
        EXPECT_FALSE(platform::ShowProcessWindow(client, platform::SW_SHOWNORMAL));
    }
}

TEST(ProcessWindow, ShownClientRunsInATitledTerminalThatCanBeHiddenAndShown) {
    for (const char* tool : {"Xvfb", "xterm", "xdotool"})
        if (platform::detail::FindOnPath(tool).empty())
            GTEST_SKIP() << tool << " is not installed";
    const std::string xdotool = platform::detail::FindOnPath("xdotool");
    // Xvfb picks a free display and prints its number.
    TestChild server({platform::detail::FindOnPath("Xvfb"), "-displayfd", "1", "-nolisten", "tcp", "-noreset"});
    std::string number = server.ReadLine();
    ASSERT_FALSE(number.empty());
    ScopedEnv display("DISPLAY", ":" + number);
    auto visible = [&](pid_t pid) {
        return !TestChild({xdotool, "search", "--onlyvisible", "--pid", std::to_string(pid)}).ReadLine().empty();
    };

    TempDir dir;
    EXPECT_FALSE(StartProcess({{dir / "missing"}, dir.Path(), "ORVA 3", platform::SW_SHOWNORMAL}).IsValid());
    ProcessHandle client = StartProcess(SleepClient(dir.Path(), "ORVA 3", platform::SW_SHOWNORMAL));
    ASSERT_TRUE(client.IsValid());
    KillAtEnd end{client};
    // The handle holds the client itself; the terminal around it owns the window.
    EXPECT_EQ(ExeOf(client.Pid()), Canonical("/bin/sleep"));
    const pid_t terminal = client.WindowPid();
    EXPECT_NE(terminal, client.Pid());
    EXPECT_EQ(ExeOf(terminal), Canonical(platform::detail::FindOnPath("xterm")));
    // The terminal and the client in it carry title and directory, so both are found.
    ASSERT_TRUE(WaitUntil([&] { return platform::FindProcessesByTitle("ORVA 3", dir.Path()).size() == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return visible(terminal); }));

    EXPECT_TRUE(platform::ShowProcessWindow(client, platform::SW_HIDE));
    EXPECT_FALSE(visible(terminal));
    EXPECT_TRUE(platform::ShowProcessWindow(client, platform::SW_SHOWNORMAL));
    EXPECT_TRUE(visible(terminal));
    for (const auto& found : platform::FindProcessesByTitle("ORVA 3", dir.Path())) {
        if (found.Pid() == client.Pid()) {
            EXPECT_FALSE(platform::ShowProcessWindow(found, platform::SW_HIDE)); // found by title: no terminal known
        }
    }

    // Priority and the kill reach the client, and the terminal goes with it at once.
    EXPECT_TRUE(platform::SetPriorityClass(client, platform::IDLE_PRIORITY_CLASS));
    EXPECT_EQ(platform::GetPriorityClass(client.Pid()), platform::IDLE_PRIORITY_CLASS);
    const pid_t clientPid = client.Pid();
    EXPECT_TRUE(client.Terminate());
    EXPECT_TRUE(client.WaitForExit(std::chrono::seconds(20)));
    EXPECT_TRUE(WaitUntil([&] { return platform::FindProcessesByTitle("ORVA 3", dir.Path()).empty(); }));
    EXPECT_FALSE(std::filesystem::exists(ProcPath(clientPid, "exe")));
}

} // namespace
} // namespace vantrel::test
