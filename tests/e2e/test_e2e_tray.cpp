// The built program end to end on a real X server with a tray host: the icon docks, the dialog
// shows the cache, a work unit is fetched, processed, sent and logged, and `vantrel --post 16`
// ends the program without leaving a client behind. A second start with an instance to fill
// and no automatic transmit is kept as a screenshot for the README.
#include "e2e_process.h"
#include "platform/fileops.h"
#include "support/tempdir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace vantrel::e2e {
namespace {

using namespace std::chrono_literals;

// Whether the tray host's panel holds a window of the program: the docked icon.
bool IconDocked(const std::string& tree) {
    std::istringstream lines(tree);
    std::string line;
    std::size_t panelIndent = std::string::npos;
    while (std::getline(lines, line)) {
        std::size_t indent = line.find_first_not_of(' ');
        if (line.find("\"panel\": (\"panel\" \"trayer\")") != std::string::npos) {
            panelIndent = indent;
            continue;
        }
        if (panelIndent == std::string::npos || indent == std::string::npos)
            continue;
        if (indent <= panelIndent && line.find("child") == std::string::npos) {
            panelIndent = std::string::npos; // past the panel's subtree
            continue;
        }
        if (line.find("(\"vantrel\" \"Vantrel\")") != std::string::npos)
            return true;
    }
    return false;
}

// Whether the dialog is mapped: a window of the program's class far larger than the tray icon.
bool DialogShown(const std::string& tree) {
    const std::string window = "\"Vantrel\": (\"vantrel\" \"Vantrel\")  ";
    std::istringstream lines(tree);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t at = line.find(window);
        if (at == std::string::npos)
            continue;
        unsigned width = 0;
        unsigned height = 0;
        if (std::sscanf(line.c_str() + at + window.size(), "%ux%u", &width, &height) == 2 && width >= 200 &&
            height >= 200)
            return true;
    }
    return false;
}

bool HasFileIn(const std::string& dir) {
    for (const auto& entry : platform::ListDirectory(dir))
        if (!entry.isDirectory)
            return true;
    return false;
}

// The "prog=" figure of an instance's state file; 0 without one.
double ProgressOf(const std::string& instance) {
    std::string state = platform::ReadFileText(instance + "/state.orv").value_or("");
    std::size_t at = state.find("prog=");
    return at == std::string::npos ? 0.0 : std::atof(state.c_str() + at + 5);
}

std::size_t LineCount(const std::string& path) {
    std::optional<std::string> text = platform::ReadFileText(path);
    if (!text)
        return 0;
    std::size_t count = 0;
    for (char c : *text)
        count += c == '\n' ? 1 : 0;
    return count;
}

TEST(EndToEnd, TrayProcessTransmitAndPostedExit) {
    std::optional<std::string> xvfb = FindProgram("Xvfb");
    std::optional<std::string> trayer = FindProgram("trayer");
    std::optional<std::string> xwininfo = FindProgram("xwininfo");
    if (!xvfb || !trayer || !xwininfo)
        GTEST_SKIP() << "needs Xvfb, trayer and xwininfo";
    std::optional<std::string> import = FindProgram("import");

    Workspace space;
    const std::string& program = space.program;
    const std::string& runtime = space.runtime;
    const std::string& logs = space.logs;
    for (const char* log : {"/xvfb.log", "/trayer.log", "/vantrel.log", "/vantrel-again.log"})
        platform::DeleteFile(logs + log);
    ASSERT_TRUE(InstallPortableCopy(program));
    test::WriteFile(program + "/vantrel.cfg", "-auto -verbose -ORVALog -cpu 2\r\n");
    test::MakeDirs(program + "/1");
    test::MakeDirs(program + "/2");

    CVirtualDisplay server(*xvfb, logs + "/xvfb.log");
    const std::string display = server.Name();
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";

    const Environment x = MergedEnvironment({{"DISPLAY", display}});
    ASSERT_TRUE(WaitUntil([&] { return RunToEnd({*xwininfo, "-root"}, x).exitCode == 0; }, 120s)) << "no display";
    CChild tray({*trayer, "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32"}, x, {},
                logs + "/trayer.log");
    auto tree = [&] { return RunToEnd({*xwininfo, "-root", "-tree"}, x).output; };
    ASSERT_TRUE(WaitUntil([&] { return tree().find("\"panel\": (\"panel\" \"trayer\")") != std::string::npos; }, 120s));

    // Durations and the simulated client shrunk, so a whole cycle takes seconds; the runtime
    // directory keeps the message channel away from any other Vantrel of this user.
    const Environment env =
        MergedEnvironment({{"DISPLAY", display},
                           {"QT_QPA_PLATFORM", "xcb"},
                           {"XDG_RUNTIME_DIR", runtime},
                           {"XDG_CONFIG_HOME", space.work / "config"},
                           {"VANTREL_TIME_SCALE", "0.01"},
                           {"ORVA_SIM_PROCESS_SECONDS", "3"},
                           {"ORVA_SIM_STATE_INTERVAL", "0.25"},
                           {"ORVA_SIM_TRANSFER_SECONDS", "0.2"},
                           {"LSAN_OPTIONS", LeakOptions()}});
    CChild vantrel({program + "/vantrel"}, env, program, logs + "/vantrel.log");
    ASSERT_TRUE(vantrel.Started());

    EXPECT_TRUE(WaitUntil([&] { return IconDocked(tree()); }, 120s)) << "the icon did not dock in the tray";
    EXPECT_TRUE(ShownWhileRunning(vantrel, logs + "/vantrel.log", [&] { return DialogShown(tree()); }, 120s))
        << "the dialog was not shown";
    // Fetched, processed, then sent by the next automatic pass and logged before its transmit.
    EXPECT_TRUE(WaitUntil([&] { return HasFileIn(program + "/orva-server/received"); }, 60s)) << "no result sent";
    EXPECT_TRUE(WaitUntil([&] { return LineCount(program + "/ORVALog.csv") >= 2; }, 120s)) << "no result logged";
    EXPECT_TRUE(platform::PathExists(program + "/user_info.orv"));
    RunResult post = RunToEnd({program + "/vantrel", "--post", "16"}, env);
    EXPECT_EQ(post.exitCode, 0);
    std::optional<int> status = vantrel.WaitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "the program did not end on the posted 16";
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    // Processing clients die with the program; a transmit client finishes its transfer by itself.
    for (const ClientProcess& client : ClientsBeneath(program))
        EXPECT_NE(client.title.find(" - Transmit"), std::string::npos) << "left running: " << client.title;
    EXPECT_TRUE(WaitUntil([&] { return ClientsBeneath(program).empty(); }, 120s)) << "a transmit client never ended";
    EXPECT_FALSE(HasFileIn(runtime + "/vantrel")) << "the program's socket was left behind";

    // For the picture, a second start with something waiting (the yellow dish): a third instance
    // to fill and no automatic transmit, while the two others' work units are processed.
    test::WriteFile(program + "/vantrel.cfg", "-verbose -ORVALog -cpu 2\r\n");
    test::MakeDirs(program + "/3");
    CChild again({program + "/vantrel"}, env, program, logs + "/vantrel-again.log");
    ASSERT_TRUE(again.Started());
    EXPECT_TRUE(WaitUntil([&] { return IconDocked(tree()) && DialogShown(tree()); }, 120s)) << "no second start";
    EXPECT_TRUE(WaitUntil(
        [&] {
            return !ClientsBeneath(program).empty() &&
                   (ProgressOf(program + "/1") >= 0.4 || ProgressOf(program + "/2") >= 0.4);
        },
        30s))
        << "the second start processes nothing";
    EXPECT_FALSE(HasFileIn(program + "/3")) << "instance 3 was filled without automatic transmit";

    if (import) {
        const std::string shot = logs + "/vantrel-dialog.png";
        platform::DeleteFile(shot);
        EXPECT_EQ(RunToEnd({*import, "-window", "root", shot}, x).exitCode, 0);
        EXPECT_GT(platform::FileSize(shot).value_or(0), 1000u);
    }

    EXPECT_EQ(RunToEnd({program + "/vantrel", "--post", "16"}, env).exitCode, 0);
    status = again.WaitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "the second start did not end on the posted 16";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_TRUE(WaitUntil([&] { return ClientsBeneath(program).empty(); }, 120s)) << "a client was left running";
}

} // namespace
} // namespace vantrel::e2e
