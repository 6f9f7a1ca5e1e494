// The soak's figures: a thousand work units through the real program, scaled down in time, with
// clients that now and then cannot reach the server, break off a download, hang or crash. Its
// rate, runs, memory and descriptors go to the output as "[ figures  ]" lines, which
// bench/print-figures reads. A figure, not a test: ctest does not run it (the smaller soaks
// check the same ledger). It still says so when the run went wrong: a work unit lost or doubled,
// memory or descriptors that grew, a client left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "ledger.h"
#include "platform/fileops.h"
#include "programdir.h"

namespace vantrel::soak {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

// The sanitized program is several times slower; it still runs the whole cycle, on fewer units.
#if VANTREL_SOAK_SANITIZED
constexpr std::size_t kWorkUnits = 300;
#else
constexpr std::size_t kWorkUnits = 1000;
#endif
constexpr unsigned kInstances = 30;

// The hang check 0.6 s, the transmit pause 60 ms, the retry timer 43 s, the runner spacing 1 ms.
const Environment kScaled = {{"VANTREL_TIME_SCALE", "0.002"},
                             {"ORVA_SIM_PROCESS_SECONDS", "0.08"},
                             {"ORVA_SIM_STATE_INTERVAL", "0.02"},
                             {"ORVA_SIM_TRANSFER_SECONDS", "0.005"}};

struct Sample {
    std::size_t received = 0;
    ProcessSample process;
};

long Median(std::vector<long> values) {
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

struct Quarter {
    long rssMedianKb = 0;
    long fdsMax = 0;
};

// The first (first = true) or last quarter of the samples.
Quarter QuarterOf(const std::vector<Sample>& samples, bool first) {
    const std::size_t size = samples.size() / 4;
    auto begin = first ? samples.begin() : samples.end() - static_cast<long>(size);
    std::vector<long> rss;
    Quarter quarter;
    for (auto it = begin; it != begin + static_cast<long>(size); ++it) {
        rss.push_back(it->process.rssKb);
        quarter.fdsMax = std::max(quarter.fdsMax, it->process.fds);
    }
    quarter.rssMedianKb = Median(rss);
    return quarter;
}

// Runs the server saw, by kind ("process", "transmit").
std::size_t RunsOf(const CProgramDir& dir, const std::string& kind) {
    std::string runs = platform::ReadFileText(dir.ServerDir() + "/runs.log", std::size_t{1} << 30).value_or("");
    std::size_t count = 0;
    for (std::size_t at = runs.find("\trun=" + kind + "\t"); at != std::string::npos;
         at = runs.find("\trun=" + kind + "\t", at + 1))
        ++count;
    return count;
}

bool NoClientLeft(const CProgramDir& dir) {
    return WaitUntil([&] { return dir.Clients().empty(); }, 60s);
}

TEST(Soak, ThousandWorkUnitsWithRandomClientFailures) {
    CProgramDir dir(kInstances);
    dir.WriteConfiguration("-auto -cpu 3 -ORVALog -verbose");
    Environment failing = kScaled;
    // Each of the four failures in 3 of 100 runs: no server, broken download, hang, crash.
    failing["ORVA_SIM_FAIL_RATE"] = "0.03";

    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<e2e::CChild> program = dir.Start(failing, "soak");
    ASSERT_TRUE(program->Started());
    std::vector<Sample> samples;
    // A loaded machine only slows the soak down; it fails when results stop coming.
    const auto deadline = start + 25min;
    auto lastProgress = start;
    while (std::chrono::steady_clock::now() < deadline && std::chrono::steady_clock::now() - lastProgress < 3min) {
        std::optional<ProcessSample> sample = SampleProcess(program->Pid());
        ASSERT_TRUE(sample) << "the program ended during the soak";
        const std::size_t received = platform::ListDirectory(dir.ServerDir() + "/received").size();
        if (samples.empty() || received > samples.back().received)
            lastProgress = std::chrono::steady_clock::now();
        samples.push_back({received, *sample});
        if (received >= kWorkUnits)
            break;
        std::this_thread::sleep_for(200ms);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_GE(samples.back().received, kWorkUnits) << "only " << samples.back().received << " results in "
                                                   << seconds << " s";

    const unsigned long handedOutAtExit = ReadServer(dir.ServerDir()).handedOut;
    const auto exitAsked = std::chrono::steady_clock::now();
    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(*program, 120s), std::optional<int>(0));
    const double exitSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - exitAsked).count();
    EXPECT_TRUE(WaitUntil([&] { return PidsWith(dir.Clients(), IsProcessingTitle).empty(); }, 10s))
        << "a processing client outlived the program";
    EXPECT_TRUE(NoClientLeft(dir)) << "a transmit client never ended";
    const std::size_t processRuns = RunsOf(dir, "process");
    const std::size_t transmitRuns = RunsOf(dir, "transmit");
    CacheRecord soaked = ReadCache(dir.Path());
    EXPECT_TRUE(IsGapFree(soaked) && soaked.directories.size() == kInstances && soaked.retired == 0)
        << "the cache did not keep its size: " << soaked.directories.size() << " instances, " << soaked.retired
        << " of them retired";
    const unsigned long handedOut = ReadServer(dir.ServerDir()).handedOut;

    // Every instance retired, without failures: the work left is finished and sent, nothing new
    // is fetched, and the program is ended the same way.
    EXPECT_EQ(DrainRetiredCache(dir, kScaled, 180s), "");

    DrainedLedger ledger = ReadDrainedLedger(dir.Path(), dir.ServerDir());
    EXPECT_TRUE(ledger.problems.empty()) << Lines(ledger.problems);
    const ServerRecord& server = ledger.server;
    const LogRecord& log = ledger.log;
    EXPECT_EQ(server.handedOut, handedOut) << "retired instances fetched new work units";

    // Flat: a descriptor or a few kilobytes kept per work unit would show here, hundreds of work
    // units apart.
    ASSERT_GE(samples.size(), 40u);
    const Quarter first = QuarterOf(samples, true);
    const Quarter last = QuarterOf(samples, false);
    long peakRss = 0;
    for (const Sample& sample : samples)
        peakRss = std::max(peakRss, sample.process.rssKb);
    // The sanitizer keeps freed memory in quarantine, so its resident size grows by design.
    if (!VANTREL_SOAK_SANITIZED) {
        EXPECT_LE(last.rssMedianKb, first.rssMedianKb + std::max(3 * 1024L, first.rssMedianKb / 10))
            << "resident memory grew from " << first.rssMedianKb << " kB to " << last.rssMedianKb << " kB";
    }
    EXPECT_LE(last.fdsMax, first.fdsMax + 8) << "open descriptors grew from " << first.fdsMax << " to "
                                              << last.fdsMax;

    std::printf("[ figures  ] soak: %zu work units received in %.1f s (%.1f per second), %u instances, 3 "
                "clients, failure rate 0.03 each\n",
                samples.back().received, seconds, static_cast<double>(samples.back().received) / seconds,
                kInstances);
    std::printf("[ figures  ] soak: %zu processing runs and %zu transmit runs until then; after the drain %lu "
                "handed out, %zu received, %zu log rows\n",
                processRuns, transmitRuns, server.handedOut, server.copies.size(), log.rows);
    std::printf("[ figures  ] soak: VmRSS peak %ld kB, median first quarter %ld kB, last quarter %ld kB; open "
                "descriptors max first quarter %ld, last quarter %ld (%zu samples)\n",
                peakRss, first.rssMedianKb, last.rssMedianKb, first.fdsMax, last.fdsMax, samples.size());
    std::printf("[ figures  ] soak: `vantrel --post 16` ended the program after %.1f s; %lu work units were handed "
                "out meanwhile\n",
                exitSeconds, handedOut - handedOutAtExit);
}

} // namespace
} // namespace vantrel::soak
