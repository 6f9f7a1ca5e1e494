// The real program through everyday faults, one stretch after another, with every duration scaled
// down: the server out of reach, then out of work, the log held by another program, one instance
// whose client exits at once and one whose client hangs holding its lock after its result. While a
// fault lasts, passes and client starts stay paced by time; once every fault is over, every result
// reaches the server with exactly one log row, no work unit is lost, and no client ever found its
// directory renamed or deleted under it. The figures go to the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "ledger.h"
#include "platform/fileops.h"
#include "programdir.h"
#include "support/childprocess.h"

namespace vantrel::soak {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

// A simulated hour is 1.8 s where a client starts in milliseconds: the hang check 0.15 s, the
// first retry 0.15 s, the full retry period 10.8 s, the transmit pause 15 ms. Where a client takes
// longer to start, every duration is stretched until the hang check leaves it three times that:
// a client judged before its first state is killed as hung, over and over.
const double kTimeScale =
    std::max(0.0005, 3.0 * static_cast<double>(ClientStartAllowance().count()) / (5.0 * 60.0 * 1000.0));
const double kSimulatedHour = 3600.0 * kTimeScale;
constexpr unsigned kInstances = 6;
constexpr unsigned kExitsAtOnce = 6; // its client exits at once while the fault lasts
constexpr unsigned kHangs = 5;       // its first client hangs holding lock.orv after its result
constexpr const char* kExitKnob = "ORVA_SIM_EXIT_AT_ONCE=1\n";
constexpr const char* kHangKnob = "ORVA_SIM_HOLD_AFTER_RESULT=6\n";

const Environment kScaled = {{"VANTREL_TIME_SCALE", std::to_string(kTimeScale)},
                             {"ORVA_SIM_PROCESS_SECONDS", "0.4"},
                             {"ORVA_SIM_STATE_INTERVAL", "0.05"},
                             {"ORVA_SIM_TRANSFER_SECONDS", "0.005"}};

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Runs of one kind between two moments, by instance directory.
std::map<std::string, std::size_t> RunsByDir(const CProgramDir& dir, const std::string& kind, long long from,
                                             long long to) {
    std::map<std::string, std::size_t> runs;
    for (const ClientRun& run : ReadRuns(dir))
        if (run.run == kind && run.timeMs >= from && run.timeMs < to)
            ++runs[run.dir];
    return runs;
}

// Each pass runs the client once in every instance it visits, so the instance visited most often
// counts the passes.
std::size_t Passes(const CProgramDir& dir, long long from, long long to) {
    std::size_t passes = 0;
    for (const auto& [where, runs] : RunsByDir(dir, "transmit", from, to))
        passes = std::max(passes, runs);
    return passes;
}

std::size_t Received(const CProgramDir& dir) {
    return platform::ListDirectory(dir.ServerDir() + "/received").size();
}

void Switch(const CProgramDir& dir, const char* name, bool on) {
    if (on)
        test::WriteFile(dir.ServerDir() + "/" + name, "");
    else
        platform::DeleteFile(dir.ServerDir() + "/" + name);
}

std::string KnobsPath(const CProgramDir& dir, unsigned n) {
    return dir.InstancePath(n) + "/orva_sim_knobs.txt";
}

std::string Listing(const CProgramDir& dir, unsigned n) {
    std::string text;
    for (const platform::DirEntry& entry : platform::ListDirectory(dir.InstancePath(n)))
        text += " " + entry.name;
    return text;
}

std::string RunsIn(const CProgramDir& dir, unsigned n) {
    std::string text;
    for (const ClientRun& run : ReadRuns(dir))
        if (platform::FileNamePart(run.dir) == std::to_string(n))
            text += "\n  " + std::to_string(run.timeMs) + " pid " + std::to_string(run.pid) + " " + run.run + " \"" +
                    run.title + "\"";
    return text;
}

TEST(FaultSoak, EveryFaultIsPacedByTimeAndNothingIsLostOnceItEnds) {
    CProgramDir dir(kInstances);
    dir.WriteConfiguration("-auto -cpu 2 -ORVALog");
    std::unique_ptr<e2e::CChild> program = dir.Start(kScaled, "faultsoak");
    ASSERT_TRUE(program->Started());

    // The knobs go in once the instances hold work units: an empty instance is made afresh.
    auto holdsWork = [&](unsigned n) { return platform::PathExists(dir.InstancePath(n) + "/work_unit.orv"); };
    ASSERT_TRUE(WaitUntil([&] { return holdsWork(kExitsAtOnce) && holdsWork(kHangs); }, 60s));
    test::WriteFile(KnobsPath(dir, kExitsAtOnce), kExitKnob);
    test::WriteFile(KnobsPath(dir, kHangs), kHangKnob);
    const long long begin = NowMs();

    // A client has written its result and hangs on; the others went round. A client reads its
    // knobs as it starts: one already started finishes its unit, and the instance made afresh after
    // its result loses the knob, which is then put back for the next client.
    const std::string hungTitle = "ORVA " + std::to_string(kHangs);
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!platform::PathExists(KnobsPath(dir, kHangs)) && holdsWork(kHangs))
                test::WriteFile(KnobsPath(dir, kHangs), kHangKnob);
            std::vector<e2e::ClientProcess> clients = dir.Clients();
            return platform::PathExists(dir.InstancePath(kHangs) + "/result.orv") &&
                   std::any_of(clients.begin(), clients.end(),
                               [&](const e2e::ClientProcess& client) { return client.title == hungTitle; });
        },
        60s))
        << "no client of " << hungTitle << " hung after its result; its instance holds" << Listing(dir, kHangs)
        << "\nits runs:" << RunsIn(dir, kHangs);
    platform::DeleteFile(KnobsPath(dir, kHangs));
    // The client that exits at once must have met its knob before the network goes: one that
    // started earlier finishes its unit, and its result then waits out the outage unsent.
    // A result sent meanwhile made the instance afresh, knob and all, so the knob is put back.
    long long knobFrom = begin;
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!platform::PathExists(KnobsPath(dir, kExitsAtOnce)) && holdsWork(kExitsAtOnce)) {
                knobFrom = NowMs();
                test::WriteFile(KnobsPath(dir, kExitsAtOnce), kExitKnob);
            }
            return Received(dir) >= 4 && platform::PathExists(KnobsPath(dir, kExitsAtOnce)) &&
                   holdsWork(kExitsAtOnce) &&
                   RunsByDir(dir, "process", knobFrom, NowMs())[dir.InstancePath(kExitsAtOnce)] >= 1;
        },
        120s));

    // Offline for four simulated hours and at least five passes, while the client that exits at
    // once has been started four times.
    Switch(dir, "unreachable", true);
    const long long offlineFrom = NowMs();
    std::optional<ProcessSample> before = SampleProcess(program->Pid());
    ASSERT_TRUE(WaitUntil(
        [&] {
            const long long now = NowMs();
            return now - offlineFrom >= static_cast<long long>(4 * kSimulatedHour * 1000) &&
                   Passes(dir, offlineFrom, now) >= 5 &&
                   RunsByDir(dir, "process", begin, now)[dir.InstancePath(kExitsAtOnce)] >= 4;
        },
        120s))
        << Passes(dir, offlineFrom, NowMs()) << " passes offline, "
        << RunsByDir(dir, "process", begin, NowMs())[dir.InstancePath(kExitsAtOnce)] << " starts of "
        << dir.InstancePath(kExitsAtOnce) << "\n"
        << platform::ReadFileText(dir.ServerDir() + "/runs.log").value_or("").substr(0, 6000);
    std::optional<ProcessSample> after = SampleProcess(program->Pid());
    const long long offlineTo = NowMs();
    ASSERT_TRUE(before && after) << "the program ended while offline";
    platform::DeleteFile(KnobsPath(dir, kExitsAtOnce));
    const long long exitsAtOnceTo = NowMs();

    // Back, but out of work, for two passes.
    Switch(dir, "no_work", true);
    Switch(dir, "unreachable", false);
    const long long noWorkFrom = NowMs();
    ASSERT_TRUE(WaitUntil([&] { return Passes(dir, noWorkFrom, NowMs()) >= 2; }, 120s));
    const long long noWorkTo = NowMs();
    Switch(dir, "no_work", false);

    // The log held by another program until a pass has met a result it could not log.
    {
        test::TestChild holder(test::LockHolderArgs("flock", dir.Path() + "/ORVALog.csv"));
        ASSERT_EQ(holder.ReadLine(), "locked");
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (unsigned n = 1; n <= kInstances; ++n)
                    if (platform::PathExists(dir.InstancePath(n) + "/result.orv") &&
                        platform::PathExists(dir.InstancePath(n) + "/VantrelTransmitLoopDetector.txt") &&
                        !platform::PathExists(dir.InstancePath(n) + "/ORVALogUpdated.txt"))
                        return true;
                return false;
            },
            120s));
    }
    const long long faultsEnd = NowMs();

    // Every fault is over: the cache fills and goes round again by itself.
    const std::size_t receivedAtEnd = Received(dir);
    EXPECT_TRUE(WaitUntil([&] { return Received(dir) >= receivedAtEnd + kInstances; }, 120s))
        << "the cache did not go round again once the faults had ended";
    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(*program, 60s), std::optional<int>(0));
    EXPECT_EQ(DrainRetiredCache(dir, kScaled, 180s), "");

    DrainedLedger ledger = ReadDrainedLedger(dir.Path(), dir.ServerDir());
    EXPECT_TRUE(ledger.problems.empty()) << Lines(ledger.problems);
    const ServerRecord& server = ledger.server;
    const LogRecord& log = ledger.log;
    EXPECT_EQ(platform::ReadFileText(dir.ServerDir() + "/moved.log").value_or(""), "")
        << "a client's directory was renamed or deleted under it";

    const double offlineHours = static_cast<double>(offlineTo - offlineFrom) / 1000.0 / kSimulatedHour;
    const double passesOffline = static_cast<double>(Passes(dir, offlineFrom, offlineTo)) / offlineHours;
    const double noWorkHours = static_cast<double>(noWorkTo - noWorkFrom) / 1000.0 / kSimulatedHour;
    const double passesNoWork = static_cast<double>(Passes(dir, noWorkFrom, noWorkTo)) / noWorkHours;
    const double exitHours = static_cast<double>(exitsAtOnceTo - begin) / 1000.0 / kSimulatedHour;
    const double startsPerHour =
        static_cast<double>(RunsByDir(dir, "process", begin, exitsAtOnceTo)[dir.InstancePath(kExitsAtOnce)]) /
        exitHours;
    const double cpuSeconds = after->cpuSeconds - before->cpuSeconds;
    const double cpuShare = cpuSeconds / (static_cast<double>(offlineTo - offlineFrom) / 1000.0);
    // Every wait is shrunk here, so the same work comes 1 / kTimeScale times as often: at real
    // durations the program's share is its processor time over the simulated time.
    const double cpuShareReal = cpuSeconds / (offlineHours * 3600.0);
    // Paced by the retry timer (first after 5 minutes, then doubling) and by new results, never by
    // each message; the client that exits at once waits out a hang check before each start.
    EXPECT_LE(passesOffline, 12.0);
    EXPECT_LE(passesNoWork, 12.0);
    EXPECT_LE(startsPerHour, 15.0);
    EXPECT_LT(cpuShareReal, 0.01);

    std::printf("[ figures  ] fault soak: offline %.1f simulated hours: %.1f passes per simulated hour; program "
                "processor time %.2f s, %.4f %% of one processor in simulated time (%.1f %% of the shrunk wall time)\n",
                offlineHours, passesOffline, cpuSeconds, cpuShareReal * 100.0, cpuShare * 100.0);
    std::printf("[ figures  ] fault soak: out of work %.1f simulated hours: %.1f passes per simulated hour\n",
                noWorkHours, passesNoWork);
    std::printf("[ figures  ] fault soak: a client that exits at once: %.1f starts per simulated hour over %.1f "
                "simulated hours\n",
                startsPerHour, exitHours);
    std::printf("[ figures  ] fault soak: after the faults (%.1f s) and the drain: %lu handed out, %zu received, %zu "
                "log rows, nothing lost, no client moved\n",
                static_cast<double>(faultsEnd - begin) / 1000.0, server.handedOut, server.copies.size(), log.rows);
}

} // namespace
} // namespace vantrel::soak
