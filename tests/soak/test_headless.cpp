// The program without a window, from outside: it runs the fault-free cache to the same ledger as
// the desktop program, shows nothing graphical, tells its status to scripts and ends on its
// system's requests from outside or `--post 16` as Exit does.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "ledger.h"
#include "platform/fileops.h"
#include "programdir.h"
#include "support/tempdir.h"
#include "test_headless.h"

namespace vantrel::soak {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

constexpr unsigned kInstances = 8;

const Environment kScaled = {{"VANTREL_TIME_SCALE", "0.002"},
                             {"ORVA_SIM_PROCESS_SECONDS", "0.08"},
                             {"ORVA_SIM_STATE_INTERVAL", "0.02"},
                             {"ORVA_SIM_TRANSFER_SECONDS", "0.005"}};

std::size_t Received(const CProgramDir& dir) {
    return platform::ListDirectory(platform::JoinPath(dir.ServerDir(), "received")).size();
}

// A label value as the exposition format writes it.
std::string LabelValue(const std::string& text) {
    std::string escaped;
    for (char c : text)
        escaped += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
    return escaped;
}

// Prometheus' text format: every sample has its HELP and TYPE first, a vantrel_ name, the one
// label and a number. The samples by name; a line that breaks the format is named in problems.
std::map<std::string, double> ParseExposition(const std::string& text, const std::string& programDir,
                                              std::vector<std::string>& problems) {
    static const std::regex help(R"re(# HELP (vantrel_[a-z_]+) \S.*)re");
    static const std::regex type(R"re(# TYPE (vantrel_[a-z_]+) (?:gauge|counter))re");
    static const std::regex sample(R"re((vantrel_[a-z_]+)\{program_dir="((?:[^"\\\n]|\\.)*)"\} (-?[0-9.]+))re");
    std::map<std::string, double> samples;
    std::set<std::string> helped;
    std::set<std::string> typed;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, help)) {
            helped.insert(match[1]);
        } else if (std::regex_match(line, match, type)) {
            typed.insert(match[1]);
        } else if (std::regex_match(line, match, sample) && helped.count(match[1]) && typed.count(match[1]) &&
                   match[2] == LabelValue(programDir) && !samples.count(match[1])) {
            samples[match[1]] = std::stod(match[3]);
        } else {
            problems.push_back(line);
        }
    }
    return samples;
}

TEST(Headless, RunsTheCacheToTheSameLedgerShowingNothingAndTellsItsStatus) {
    CProgramDir dir(kInstances);
    dir.SetProgramArguments({"--headless"});
    dir.WriteConfiguration("-auto -cpu 2 -ORVALog -verbose");
    std::unique_ptr<e2e::CChild> program = dir.Start(kScaled, "headless");
    ASSERT_TRUE(program->Started());
    ASSERT_TRUE(WaitUntil([&] { return Received(dir) >= 1; }, 120s)) << "no result came back";

    const std::vector<std::string> graphical = GraphicalParts(*program);
    EXPECT_TRUE(graphical.empty()) << Lines(graphical);

    // The cache keeps its size while it runs, so the disk and the answer agree.
    const e2e::RunResult json = dir.RunProgram({"--status", "--json"});
    EXPECT_EQ(json.exitCode, 0) << json.output;
    const std::string size = std::to_string(InstanceDirectories(dir.Path()).size());
    EXPECT_EQ(ReadJsonSummary(json.output), "True " + size + " " + size + " " + dir.Path() + "\n") << json.output;
    const e2e::RunResult prometheus = dir.RunProgram({"--status", "--prometheus"});
    std::vector<std::string> problems;
    std::map<std::string, double> samples = ParseExposition(prometheus.output, dir.Path(), problems);
    EXPECT_TRUE(problems.empty()) << Lines(problems);
    EXPECT_EQ(samples["vantrel_up"], 1.0);
    EXPECT_EQ(samples["vantrel_cache_size"], static_cast<double>(kInstances));
    EXPECT_TRUE(samples.count("vantrel_retry_timer_armed") && samples.count("vantrel_transmit_running"))
        << prometheus.output;
    // The log takes every row here: nothing waits for it, nothing was lost.
    EXPECT_TRUE(samples.count("vantrel_log_unwritable") && samples.count("vantrel_log_rows_lost_total"))
        << prometheus.output;
    EXPECT_EQ(samples["vantrel_log_unwritable"], 0.0);
    EXPECT_EQ(samples["vantrel_log_rows_lost_total"], 0.0);

    const std::size_t workUnits = LedgerWorkUnits();
    ASSERT_TRUE(WaitUntil([&] { return Received(dir) >= workUnits; }, 8min)) << "only " << Received(dir) << " results";
    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(*program, 120s), std::optional<int>(0));
    EXPECT_TRUE(WaitUntil([&] { return PidsWith(dir.Clients(), IsProcessingTitle).empty(); }, 10s))
        << "a processing client outlived the program";

    EXPECT_EQ(DrainRetiredCache(dir, kScaled, 180s), "");
    DrainedLedger ledger = ReadDrainedLedger(dir.Path(), dir.ServerDir());
    EXPECT_TRUE(ledger.problems.empty()) << Lines(ledger.problems);
    EXPECT_GE(ledger.server.copies.size(), workUnits);

    // None runs now: the disk's counters, and exit code 3.
    const e2e::RunResult after = dir.RunProgram({"--status", "--json"});
    EXPECT_EQ(after.exitCode, 3);
    const CacheRecord left = ReadCache(dir.Path());
    EXPECT_EQ(ReadJsonSummary(after.output), "False " + std::to_string(left.directories.size()) + " " +
                                                    std::to_string(left.directories.size() - left.retired) + " " +
                                                    dir.Path() + "\n")
        << after.output;
}

TEST(Headless, EndsOnRequestsFromOutsideKeepsOneCopyAndRefusesWhatOnlyAWindowCouldAsk) {
    CProgramDir dir(3);
    dir.SetProgramArguments({"--headless"});
    dir.WriteConfiguration("-auto -cpu 2");
    // Work units that take long enough for the request to find them processing.
    Environment slow = kScaled;
    slow["ORVA_SIM_PROCESS_SECONDS"] = "60";
    for (const EndRequest& request : EndRequests()) {
        std::unique_ptr<e2e::CChild> program = dir.Start(slow, "request");
        ASSERT_TRUE(program->Started());
        ASSERT_TRUE(WaitUntil([&] { return !PidsWith(dir.Clients(), IsProcessingTitle).empty(); }, 120s));
        // A second copy, headless or with a window, does not start beside it.
        std::unique_ptr<e2e::CChild> second = dir.Start(kScaled, "second");
        EXPECT_EQ(ExitCode(*second, 60s), std::optional<int>(1));
        dir.SetProgramArguments({});
        std::unique_ptr<e2e::CChild> desktop = dir.Start(kScaled, "desktop");
        EXPECT_EQ(ExitCode(*desktop, 60s), std::optional<int>(1));
        dir.SetProgramArguments({"--headless"});
        EXPECT_NE(platform::ReadFileText(dir.LogPath("desktop")).value_or("").find("without a window"),
                  std::string::npos);

        EXPECT_TRUE(request.send(dir, *program)) << request.name;
        EXPECT_EQ(ExitCode(*program, 60s), std::optional<int>(0)) << request.name;
        EXPECT_TRUE(WaitUntil([&] { return PidsWith(dir.Clients(), IsProcessingTitle).empty(); }, 10s));
    }

    // No client to find, and no box to ask for one. A transmit client runs on after the end, and on
    // Windows its executable cannot be deleted until it has ended.
    ASSERT_TRUE(WaitUntil([&] { return dir.Clients().empty(); }, 60s)) << "a client still runs";
    ASSERT_TRUE(platform::DeleteFile(platform::JoinPath(dir.Path(), "ORVA_sim_cmdline.exe")));
    std::unique_ptr<e2e::CChild> program = dir.Start(kScaled, "noclient");
    EXPECT_EQ(ExitCode(*program, 60s), std::optional<int>(1));
    EXPECT_NE(platform::ReadFileText(dir.LogPath("noclient")).value_or("").find("cannot ask for the ORVA client"),
              std::string::npos);
}

} // namespace
} // namespace vantrel::soak
