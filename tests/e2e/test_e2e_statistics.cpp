// The statistics window of the built program on a real X server: opened from the dialog's menu
// by keyboard, it draws a year of results from the log. Its screenshot is kept for the README.
#include "e2e_process.h"
#include "platform/fileops.h"
#include "support/buildpaths.h"
#include "support/samplelog.h"
#include "support/tempdir.h"

#include <chrono>
#include <ctime>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace vantrel::e2e {
namespace {

using namespace std::chrono_literals;

// The first of the mapped windows titled title; empty when none.
std::string FirstWindow(const std::string& xdotool, const Environment& x, const std::string& title) {
    std::string ids = VisibleWindows(xdotool, x, title);
    return ids.substr(0, ids.find('\n'));
}

// Whether the picture holds a colour (as "#RRGGBB"), by imagemagick's histogram.
bool HasColour(const std::string& convert, const std::string& picture, const std::string& colour) {
    std::string histogram = RunToEnd({convert, picture, "-format", "%c", "histogram:info:-"}, {}).output;
    return histogram.find(colour) != std::string::npos;
}

TEST(EndToEnd, StatisticsWindowDrawsAYearOfResults) {
    std::optional<std::string> xvfb = FindProgram("Xvfb");
    std::optional<std::string> xwininfo = FindProgram("xwininfo");
    std::optional<std::string> xdotool = FindProgram("xdotool");
    std::optional<std::string> import = FindProgram("import");
    std::optional<std::string> convert = FindProgram("convert");
    if (!xvfb || !xwininfo || !xdotool || !import || !convert)
        GTEST_SKIP() << "needs Xvfb, xwininfo, xdotool and imagemagick";

    test::TempDir work;
    const std::string program = work / "program";
    const std::string runtime = work / "runtime";
    const std::string logs = std::string(test::build::kArtifacts);
    test::MakeDirs(program);
    test::MakeDirs(logs);
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    ASSERT_TRUE(InstallPortableCopy(program));
    // A year of results up to today, ten a day on average.
    test::SampleLogShape shape;
    shape.rows = 3650;
    shape.firstDay = LocalDay(std::time(nullptr)) - 364;
    const std::string log = test::SampleLogText(shape);
    test::WriteFile(program + "/ORVALog.csv", log);

    CVirtualDisplay server(*xvfb, logs + "/xvfb-statistics.log");
    ASSERT_FALSE(server.Name().empty()) << "Xvfb did not start";
    const Environment x = MergedEnvironment({{"DISPLAY", server.Name()}});
    ASSERT_TRUE(WaitUntil([&] { return RunToEnd({*xwininfo, "-root"}, x).exitCode == 0; }, 120s)) << "no display";
    const Environment env = MergedEnvironment(
        {{"DISPLAY", server.Name()},
         {"QT_QPA_PLATFORM", "xcb"},
         {"XDG_RUNTIME_DIR", runtime},
         {"LSAN_OPTIONS", LeakOptions()}});
    CChild vantrel({program + "/vantrel"}, env, program, logs + "/vantrel-statistics.log");
    ASSERT_TRUE(vantrel.Started());
    std::string dialog;
    ASSERT_TRUE(ShownWhileRunning(
        vantrel, logs + "/vantrel-statistics.log", [&] { return !(dialog = FirstWindow(*xdotool, x, "Vantrel")).empty(); },
        120s))
        << "the dialog was not shown";

    // The window menu by keyboard: Alt+V opens "Vantrel", S chooses "Statistics...".
    std::string window;
    EXPECT_TRUE(WaitUntil(
        [&] {
            RunToEnd({*xdotool, "windowfocus", "--sync", dialog}, x);
            RunToEnd({*xdotool, "key", "--clearmodifiers", "alt+v"}, x);
            RunToEnd({*xdotool, "key", "--clearmodifiers", "s"}, x);
            return WaitUntil([&] { return !(window = FirstWindow(*xdotool, x, "Vantrel - Statistics")).empty(); }, 3s);
        },
        30s))
        << "the statistics window did not open";
    ASSERT_FALSE(window.empty());

    // The log is read on a worker thread: the picture is taken once it has stopped changing with the
    // chart in it. On a busy machine the window can rest a while before the chart is drawn.
    const std::string shot = logs + "/vantrel-statistics.png";
    const std::string previous = work / "previous.png";
    int unchanged = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            platform::CopyFile(shot, previous, false);
            if (RunToEnd({*import, "-window", window, shot}, x).exitCode != 0)
                return false;
            unchanged = platform::ReadFileText(shot, 64u << 20) == platform::ReadFileText(previous, 64u << 20)
                            ? unchanged + 1
                            : 0;
            std::this_thread::sleep_for(300ms);
            return unchanged >= 3 && HasColour(*convert, shot, "#2F6FB3") && HasColour(*convert, shot, "#E07B1F");
        },
        60s));
    EXPECT_GT(platform::FileSize(shot).value_or(0), 10000u);
    // The bars and the line of the chart are there.
    EXPECT_TRUE(HasColour(*convert, shot, "#2F6FB3")) << "no bars in " << shot;
    EXPECT_TRUE(HasColour(*convert, shot, "#E07B1F")) << "no line in " << shot;
    // The window only read the log.
    EXPECT_EQ(platform::ReadFileText(program + "/ORVALog.csv", 64u << 20), log);

    EXPECT_EQ(RunToEnd({program + "/vantrel", "--post", "16"}, env).exitCode, 0);
    std::optional<int> status = vantrel.WaitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "the program did not end on the posted 16";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

} // namespace
} // namespace vantrel::e2e
