// The built program's first start in a program directory without a client, on a real X server:
// the explanation comes before anything else, nothing of the cache is made, and cancelling ends
// the program with exit code 1. A screenshot of the explanation is kept.
#include "e2e_process.h"
#include "platform/fileops.h"
#include "support/buildpaths.h"
#include "support/tempdir.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace vantrel::e2e {
namespace {

using namespace std::chrono_literals;

TEST(EndToEnd, TheFirstStartExplainsWhatIsMissingBeforeAnythingElse) {
    std::optional<std::string> xvfb = FindProgram("Xvfb");
    std::optional<std::string> xdotool = FindProgram("xdotool");
    if (!xvfb || !xdotool)
        GTEST_SKIP() << "needs Xvfb and xdotool";
    std::optional<std::string> import = FindProgram("import");

    Workspace space;
    test::TempDir& work = space.work;
    const std::string& program = space.program;
    const std::string& runtime = space.runtime;
    const std::string& logs = space.logs;
    ASSERT_TRUE(platform::CopyFile(test::build::kProgram, program + "/vantrel", false));
    ::chmod((program + "/vantrel").c_str(), 0755);

    CVirtualDisplay server(*xvfb, logs + "/xvfb-first-run.log");
    ASSERT_FALSE(server.Name().empty()) << "Xvfb did not start";
    const Environment env = MergedEnvironment(
        {{"DISPLAY", server.Name()},
         {"QT_QPA_PLATFORM", "xcb"},
         {"XDG_RUNTIME_DIR", runtime},
         {"HOME", work.Path()},
         {"LSAN_OPTIONS", LeakOptions()}});
    CChild vantrel({program + "/vantrel"}, env, program, logs + "/vantrel-first-run.log");
    ASSERT_TRUE(vantrel.Started());
    ASSERT_TRUE(ShownWhileRunning(
        vantrel, logs + "/vantrel-first-run.log", [&] { return !VisibleWindows(*xdotool, env, "Vantrel").empty(); }, 120s))
        << "no explanation was shown";
    if (import) {
        const std::string shot = logs + "/vantrel-first-run.png";
        platform::DeleteFile(shot);
        EXPECT_EQ(RunToEnd({*import, "-window", "root", shot}, env).exitCode, 0);
        EXPECT_GT(platform::FileSize(shot).value_or(0), 1000u);
    }
    // Only the lock: no instance directory, no socket while the user is asked.
    for (const auto& entry : platform::ListDirectory(program))
        EXPECT_TRUE(entry.name == "vantrel" || entry.name == "vantrel.lock") << entry.name;

    // Escape cancels the explanation, then closes the message that no client was chosen.
    std::optional<int> status;
    for (int tries = 0; tries < 4 && !status; ++tries) {
        RunToEnd({*xdotool, "key", "Escape"}, env);
        status = vantrel.WaitForExit(5s);
    }
    ASSERT_TRUE(status.has_value()) << "cancelling did not end the program";
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
}

// A display that is named but cannot be reached: one line of ours, then why the toolkit could not
// open it, exit code 1, and nothing made in the program directory.
TEST(EndToEnd, AnUnreachableDisplayIsToldWithTheToolkitsReason) {
    Workspace space;
    const std::string& program = space.program;
    ASSERT_TRUE(platform::CopyFile(test::build::kProgram, program + "/vantrel", false));
    ::chmod((program + "/vantrel").c_str(), 0755);
    const std::string log = space.work / "unreachable.log";
    // No server listens on a display number this high, and the test's own runtime folder holds no socket.
    const Environment env = MergedEnvironment({{"DISPLAY", ":64999"},
                                               {"QT_QPA_PLATFORM", "xcb"},
                                               {"XDG_RUNTIME_DIR", space.runtime},
                                               {"LSAN_OPTIONS", LeakOptions()}});
    CChild vantrel({program + "/vantrel"}, env, program, log);
    ASSERT_TRUE(vantrel.Started());
    std::optional<int> status = vantrel.WaitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status;
    const std::string said = platform::ReadFileText(log).value_or("");
    EXPECT_TRUE(said.starts_with("vantrel: cannot open the display :64999; Vantrel needs a graphical desktop session\n"))
        << said;
    EXPECT_NE(said.find("vantrel: the toolkit said: could not connect to display :64999\n"), std::string::npos) << said;
    for (const auto& entry : platform::ListDirectory(program))
        EXPECT_TRUE(entry.name == "vantrel") << entry.name;
}

} // namespace
} // namespace vantrel::e2e
