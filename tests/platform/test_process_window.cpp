#include "platform/process.h"
#include "support/childprocess.h"
#include "support/tempdir.h"
#include "test_process_util.h"

#include <cstdlib>
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
    TestChild server({platform::detail::FindOnPath("Xvfb"), "-displayfd", "1", "-nolisten", "tcp"});
    std::string number = server.ReadLine();
    ASSERT_FALSE(number.empty());
    ScopedEnv display("DISPLAY", ":" + number);
    auto visible = [&](pid_t pid) {
        return !TestChild({xdotool, "search", "--onlyvisible", "--pid", std::to_string(pid)}).ReadLine().empty();
    };

    TempDir dir;
    EXPECT_FALSE(StartProcess({{dir / "missing"}, dir.Path(), "ORVA 3", platform::SW_SHOWNORMAL}).IsValid());
    ProcessHandle terminal = StartProcess(SleepClient(dir.Path(), "ORVA 3", platform::SW_SHOWNORMAL));
    ASSERT_TRUE(terminal.IsValid());
    KillAtEnd end{terminal};
    EXPECT_EQ(ExeOf(terminal.Pid()), Canonical(platform::detail::FindOnPath("xterm")));
    // The terminal and the client in it carry title and directory, so both are found.
    ASSERT_TRUE(WaitUntil([&] { return platform::FindProcessesByTitle("ORVA 3", dir.Path()).size() == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return visible(terminal.Pid()); }));

    EXPECT_TRUE(platform::ShowProcessWindow(terminal, platform::SW_HIDE));
    EXPECT_FALSE(visible(terminal.Pid()));
    EXPECT_TRUE(platform::ShowProcessWindow(terminal, platform::SW_SHOWNORMAL));
    EXPECT_TRUE(visible(terminal.Pid()));
    for (const auto& found : platform::FindProcessesByTitle("ORVA 3", dir.Path()))
        if (found.Pid() != terminal.Pid()) {
            EXPECT_EQ(ExeOf(found.Pid()), Canonical("/bin/sleep"));
            EXPECT_FALSE(platform::ShowProcessWindow(found, platform::SW_HIDE)); // the terminal has the window
        }

    // Ending the terminal ends the client in it.
    EXPECT_TRUE(terminal.Terminate());
    EXPECT_TRUE(WaitUntil([&] { return platform::FindProcessesByTitle("ORVA 3", dir.Path()).empty(); }));
}

} // namespace
} // namespace vantrel::test
