#include "simfixture.h"
#include "support/runslog.h"

#include <filesystem>
#include <sstream>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

using InvocationTest = SimTest;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        lines.push_back(line);
    return lines;
}

TEST_F(InvocationTest, RunsLogRecordsEveryRunWithItsSwitchesTitleAndShowCommand) {
    std::string one = Instance(1);
    std::string two = Instance(2);
    auto transmit = Start(
        two,
        {"-stop_after_xfer", "-socks_server", "socks.example:1080", "-socks_user", "ada", "-socks_passwd", "p w\\d"},
        {"VANTREL_CONSOLE_TITLE=ORVA 2 - Transmit", "VANTREL_SHOW_COMMAND=7"});
    pid_t transmitPid = transmit->Pid();
    ASSERT_TRUE(WaitForEnd(*transmit, 30s));
    ASSERT_EQ(ExitCode(transmit->Wait()), 0);
    EXPECT_EQ(Run(one, {"-stop_after_process"}, {"VANTREL_CONSOLE_TITLE=ORVA 1", "VANTREL_SHOW_COMMAND=0"}), 1);

    std::vector<std::string> lines = Lines(ReadFile(ServerDir() + "/runs.log"));
    ASSERT_EQ(lines.size(), 2u);
    auto first = RunsLogFields(lines[0]);
    EXPECT_EQ(first["pid"], std::to_string(transmitPid));
    EXPECT_EQ(first["run"], "transmit");
    EXPECT_EQ(first["dir"], std::filesystem::canonical(two).string());
    EXPECT_EQ(first["title"], "ORVA 2 - Transmit");
    EXPECT_EQ(first["show"], "7");
    // Blanks and backslashes inside a switch are escaped, so the words stay apart.
    EXPECT_EQ(first["args"],
              "-stop_after_xfer -socks_server socks.example:1080 -socks_user ada -socks_passwd p\\sw\\\\d");
    auto second = RunsLogFields(lines[1]);
    EXPECT_EQ(second["run"], "process");
    EXPECT_EQ(second["dir"], std::filesystem::canonical(one).string());
    EXPECT_EQ(second["title"], "ORVA 1");
    EXPECT_EQ(second["show"], "0");
    EXPECT_EQ(second["args"], "-stop_after_process");
    EXPECT_LE(std::stoll(first["time_ms"]), std::stoll(second["time_ms"]));
    EXPECT_GT(std::stoll(first["time_ms"]), 1'500'000'000'000LL) << "milliseconds since the epoch";
}

TEST_F(InvocationTest, BadCommandLinesAreRefusedWithoutARun) {
    std::string dir = Instance(1);
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"-stop_after_process", "-stop_after_xfer"},
        {"-stop_after_xfer", "-bogus"},
        {"-stop_after_xfer", ""},
        {"-stop_after_xfer", "-proxy"},
        {"-stop_after_xfer", "-proxy", "host:0"},
        {"-stop_after_xfer", "-proxy", "host:99999"},
        {"-stop_after_xfer", "-proxy", "two words"},
        {"-stop_after_xfer", "-proxy", "a:1", "-proxy", "b:2"},
        {"-stop_after_xfer", "-proxy", "a:1", "-socks_server", "b:2"},
        {"-stop_after_xfer", "-socks_user", "ada"},
        {"-stop_after_process", "-proxy", "host:8080"},
    };
    for (const auto& args : bad)
        EXPECT_EQ(Run(dir, args), 2) << (args.empty() ? "(none)" : args.back());
    EXPECT_TRUE(ListDir(dir).empty());
    EXPECT_FALSE(Exists(ServerDir() + "/runs.log"));

    // Good server switches are taken.
    EXPECT_EQ(Run(dir, {"-stop_after_xfer", "-proxy", "proxy.example:3128"}), 0);
    EXPECT_EQ(Run(Instance(2), {"-stop_after_xfer", "-socks_server", "[::1]"}), 0);
    EXPECT_EQ(Run(Instance(3), {"-stop_after_xfer", "-proxy", "proxy.example:"}), 0) << "a colon without a port";

    auto help = Start(dir, {"--help"});
    std::string text;
    // A blank line and the end both read as empty; past the end reading returns at once.
    for (int i = 0; i < 200; ++i)
        text += help->ReadLine() + "\n";
    EXPECT_EQ(ExitCode(help->Wait()), 0);
    for (const char* knob : {"ORVA_SIM_SERVER", "ORVA_SIM_PROCESS_SECONDS", "ORVA_SIM_STATE_INTERVAL",
                             "ORVA_SIM_TRANSFER_SECONDS", "ORVA_SIM_FAIL_TRANSFER", "ORVA_SIM_PARTIAL_DOWNLOAD",
                             "ORVA_SIM_HANG", "ORVA_SIM_CRASH", "ORVA_SIM_FAIL_RATE"})
        EXPECT_NE(text.find(knob), std::string::npos) << knob;
}

TEST_F(InvocationTest, KnobsFileOverridesTheEnvironmentForItsInstanceOnly) {
    std::string quiet = Instance(1);
    std::string failing = Instance(2);
    // The whole system is told to fail; one instance's file says otherwise.
    m_env["ORVA_SIM_FAIL_TRANSFER"] = "1";
    WriteFile(quiet + "/orva_sim_knobs.txt", "# this instance works\n\n ORVA_SIM_FAIL_TRANSFER = 0 \r\n");
    EXPECT_EQ(Run(quiet, {"-stop_after_xfer"}), 0);
    EXPECT_EQ(Run(failing, {"-stop_after_xfer"}), 1);
    EXPECT_TRUE(Exists(quiet + "/work_unit.orv"));
    EXPECT_FALSE(Exists(failing + "/work_unit.orv"));

    // An empty value in the file means the default, not the environment's value.
    WriteFile(failing + "/orva_sim_knobs.txt", "ORVA_SIM_FAIL_TRANSFER=\n");
    EXPECT_EQ(Run(failing, {"-stop_after_xfer"}), 0);

    // One rate for every failure; a knob of its own wins over it.
    m_env.erase("ORVA_SIM_FAIL_TRANSFER");
    std::string rated = Instance(3);
    WriteFile(rated + "/orva_sim_knobs.txt", "ORVA_SIM_FAIL_RATE=1\nORVA_SIM_FAIL_TRANSFER=0\n");
    EXPECT_EQ(Run(rated, {"-stop_after_xfer"}), 1);
    EXPECT_TRUE(Exists(rated + "/wtemp.orv")) << "the partial download took the rate";

    // Bad knobs stop the run before it touches anything.
    std::string bad = Instance(4);
    for (const char* file : {"ORVA_SIM_PROCESS_SECONDS=abc\n", "ORVA_SIM_HANG=2\n", "ORVA_SIM_STATE_INTERVAL=0\n",
                             "ORVA_SIM_PROCESS_SECONDS=-1\n", "ORVA_SIM_TRANSFER_SECONDS=nan\n",
                             "ORVA_SIM_NO_SUCH_KNOB=1\n", "just words\n", "ORVA_SIM_SERVER=server\n"}) {
        WriteFile(bad + "/orva_sim_knobs.txt", file);
        EXPECT_EQ(Run(bad, {"-stop_after_xfer"}), 2) << file;
        EXPECT_EQ(ListDir(bad), std::vector<std::string>{"orva_sim_knobs.txt"}) << file;
    }
    EXPECT_EQ(Run(bad, {"-stop_after_xfer"}, {"ORVA_SIM_CRASH=yes"}), 2);
}

} // namespace
} // namespace vantrel::test
