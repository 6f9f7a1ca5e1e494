#include <gtest/gtest.h>

#include "engine/processrunner.h"
#include "engine_fixture.h"
#include "platform/fileops.h"
#include "support/buildpaths.h"

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

// A fixed morning long ago, so a client's own writes are always later.
constexpr long long kMorning = 1714557600; // 10:00

// Outside a display, every show command runs the client hidden, so the client sees the command
// itself rather than a terminal's.
bool ClientsRunWithoutTerminal() {
    const char* display = std::getenv("DISPLAY");
    return display == nullptr || *display == '\0';
}

class RunnerTest : public EngineTest {
protected:
    RunnerTest() : EngineTest(NoHangTimings()) { UseTestClient(); }

    platform::CEvent claimed;
    platform::CEvent stop;
};

TEST_F(RunnerTest, RunnerFindingNoFreeSlotStartsNoClient) {
    slots.Resize(1);
    slots.ClaimLowestFree(7);
    MakeWorkUnit(1, kMorning);

    EXPECT_EQ(ProcessRunnerThread(ctx, claimed, stop), 0);

    EXPECT_TRUE(claimed.IsSet());
    EXPECT_EQ(slots.Size(), 1u);
    EXPECT_EQ(slots.Get(0), 7u);
    EXPECT_FALSE(platform::PathExists(InstFile(1, "client_starts.txt")));
    EXPECT_EQ(dialog.Pending(), 0u);
}

TEST_F(RunnerTest, ClientRunsInItsInstanceWithItsTitleAndOneSwitch) {
    slots.Resize(1);
    MakeInstance(1, {"result.orv"});
    MakeWorkUnit(2, kMorning);
    ScriptClient(2, "run_ms=20\n");
    // Left by a pass that died after its client had sent the last result and fetched this one.
    WriteFile(InstFile(2, "ORVALogUpdated.txt"), "");

    EXPECT_EQ(ProcessRunnerThread(ctx, claimed, stop), 0);

    EXPECT_TRUE(claimed.IsSet());
    auto starts = ClientStarts(2);
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(starts[0].size(), 5u);
    EXPECT_EQ(starts[0][1], "2") << "the client path and one switch, nothing more";
    EXPECT_EQ(starts[0][2], "-stop_after_process");
    EXPECT_EQ(starts[0][3], "ORVA 2");
    EXPECT_EQ(starts[0][4], "0");
    EXPECT_TRUE(platform::PathExists(InstFile(2, "result.orv")));
    EXPECT_FALSE(platform::PathExists(InstFile(2, "ORVALogUpdated.txt"))) << "the new result would never be logged";
    EXPECT_EQ(slots.Get(0), 0u) << "the runner frees its slot";
    EXPECT_EQ(dialog.Take(0ms), WM_APP);
    EXPECT_EQ(dialog.Pending(), 0u);
    EXPECT_EQ(CountZombieChildren(), 0);
}

TEST_F(RunnerTest, ClientTakesTheShowModeUnlessNoAccountDataExistsAnywhere) {
    if (!ClientsRunWithoutTerminal())
        GTEST_SKIP() << "a display is set: a shown client would open a terminal window";
    slots.Resize(1);
    MakeWorkUnit(1, kMorning);
    MakeWorkUnit(2, kMorning + 1);
    std::filesystem::remove(InstFile(1, "user_info.orv"));
    std::filesystem::remove(InstFile(2, "user_info.orv"));
    WriteFile(dir / "user_info.orv", "nresults=3\n"); // the program directory's copy is no source
    ScriptClient(1, "run_ms=0\n");
    ScriptClient(2, "run_ms=0\n");
    options.ClientShowMode = platform::SW_MINIMIZE;

    ProcessRunnerThread(ctx, claimed, stop); // instance 1: no account data anywhere
    MakeInstance(3);
    WriteFile(InstFile(3, "user_info.orv"), "nresults=9\n");
    ProcessRunnerThread(ctx, claimed, stop); // instance 2: supplied from instance 3

    auto shown = ClientStarts(1);
    auto minimised = ClientStarts(2);
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_EQ(minimised.size(), 1u);
    EXPECT_EQ(shown[0].at(4), "1");
    EXPECT_EQ(minimised[0].at(4), "6");
    EXPECT_FALSE(platform::PathExists(InstFile(1, "user_info.orv")));
    EXPECT_EQ(ReadFile(InstFile(2, "user_info.orv")), "nresults=9\n");
}

// The hang check, both ways, in four instances at once: a state file that existed before the
// start must be rewritten, a missing one must appear. Judged once: a client found alive is not
// judged again although it never writes again.
class HangCheckTest : public ProcessEngineTest {
protected:
    HangCheckTest() : ProcessEngineTest(HangTimings()) {}
    static Timings HangTimings() {
        Timings t = ShortTimings();
        // Long enough for a client to start and write its state on a loaded machine.
        t.hangCheck = 1500ms;
        return t;
    }
};

TEST_F(HangCheckTest, ClientIsTerminatedUnlessItWritesItsStateWithinTheHangCheck) {
    slots.Resize(4);
    for (std::uint32_t n = 1; n <= 4; ++n)
        MakeWorkUnit(n, kMorning + n);
    for (std::uint32_t n : {1u, 2u}) {
        WriteFile(InstFile(n, "state.orv"), "prog=0.5\n");
        SetMTime(InstFile(n, "state.orv"), kMorning);
    }
    ScriptClient(1, "state_writes=0\n");  // existed, never rewritten: hung
    ScriptClient(2, "state_writes=1\n");  // existed, rewritten once: alive
    ScriptClient(3, "state_writes=0\n");  // missing, never appears: hung
    ScriptClient(4, "state_writes=1\n");  // missing, appears once: alive

    engine.RestartEngine();
    ASSERT_EQ(dialog.Take(20s), WM_APP);
    ASSERT_EQ(dialog.Take(20s), WM_APP);

    EXPECT_FALSE(slots.Contains(1));
    EXPECT_FALSE(slots.Contains(3));
    EXPECT_TRUE(Clients(1).empty());
    EXPECT_TRUE(Clients(3).empty());
    EXPECT_TRUE(platform::PathExists(InstFile(1, "work_unit.orv"))) << "the work unit stays for the next run";
    EXPECT_TRUE(platform::PathExists(InstFile(3, "work_unit.orv")));
    EXPECT_TRUE(events.Take().empty()) << "a hung client is no client that ended at once";
    // Well past a second hang check, the live clients still run.
    EXPECT_EQ(dialog.Take(3 * ctx.timings.hangCheck), std::nullopt);
    EXPECT_TRUE(slots.Contains(2));
    EXPECT_TRUE(slots.Contains(4));
    EXPECT_EQ(Clients(2).size(), 1u);
    EXPECT_EQ(Clients(4).size(), 1u);

    engine.Shutdown();
    EXPECT_TRUE(Clients(2).empty());
    EXPECT_TRUE(Clients(4).empty());
    EXPECT_EQ(dialog.Pending(), 0u);
}

TEST_F(HangCheckTest, ClientThatCannotStartIsRetriedAboutOncePerHangCheck) {
    store.SetClientPath(dir / "ORVA_gone_cmdline.exe");
    slots.Resize(1);
    MakeWorkUnit(1, kMorning);

    engine.RestartEngine();
    // Five hang checks long: a tight loop would post hundreds of times.
    int attempts = 1 + PumpMessages(5 * ctx.timings.hangCheck);

    EXPECT_GE(attempts, 3);
    EXPECT_LE(attempts, 7);
    engine.Shutdown();
    std::vector<CRecordedEvents::Event> reported = events.Take();
    EXPECT_GE(reported.size(), 3u);
    for (const CRecordedEvents::Event& event : reported)
        EXPECT_EQ(event, CRecordedEvents::Event(EV_CLIENT_ENDED_AT_ONCE, 1)) << "a client that never starts";
    EXPECT_TRUE(platform::PathExists(InstFile(1, "work_unit.orv")));
}

TEST_F(ProcessEngineTest, AClientThatEndsWithoutWorkingIsReportedAndOneThatWorksIsNot) {
    slots.Resize(1);
    MakeWorkUnit(1, kMorning);
    ScriptClient(1, "exit_now=1\n");
    engine.RestartEngine();
    ASSERT_EQ(dialog.Take(20s), WM_APP);
    using Event = CRecordedEvents::Event;
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_CLIENT_ENDED_AT_ONCE, 1}}));

    // One that writes its state and ends later, still without a result, has worked (instance 1
    // rests after its failure meanwhile).
    MakeWorkUnit(2, kMorning + 1);
    ScriptClient(2, "state_writes=1\nexit_ms=50\n");
    engine.RestartEngine();
    ASSERT_EQ(dialog.Take(20s), WM_APP);
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_CLIENT_RAN, 2}}));
    // So has one that leaves its result.
    ScriptClient(2, "run_ms=10\n");
    engine.RestartEngine();
    ASSERT_EQ(dialog.Take(20s), WM_APP);
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_CLIENT_RAN, 2}}));
    engine.Shutdown();
}

// Every wait of a runner also ends at shutdown: with the hour-long hang check of this fixture, the
// runner would otherwise keep the test waiting for an hour.
TEST_F(ProcessEngineTest, ShutdownEndsTheRunnerPausingAfterAFailedStart) {
    store.SetClientPath(dir / "ORVA_gone_cmdline.exe");
    slots.Resize(1);
    MakeWorkUnit(1, kMorning);
    engine.RestartEngine();
    ASSERT_EQ(slots.Get(0), 1u);
    ASSERT_EQ(engine.RunnerCount(), 1u);

    engine.Shutdown();

    EXPECT_EQ(engine.RunnerCount(), 0u);
    EXPECT_EQ(slots.Get(0), 0u);
    EXPECT_EQ(dialog.Pending(), 0u);
}

// The simulated client end to end: one run processes its work unit to a result, one hangs (its
// hang knob) and is terminated at the hang check with its work unit kept.
class SimulatedClientTest : public ProcessEngineTest {
protected:
    SimulatedClientTest() : ProcessEngineTest(SimTimings()) { store.SetClientPath(test::build::kOrvaSim); }
    static Timings SimTimings() {
        Timings t = ShortTimings();
        t.hangCheck = 1500ms;
        return t;
    }
    void SimKnobs(std::uint32_t n, const std::string& knobs) {
        WriteFile(InstFile(n, "orva_sim_knobs.txt"), "ORVA_SIM_SERVER=" + (dir / "server") + "\n" + knobs);
    }
};

TEST_F(SimulatedClientTest, FinishedRunLeavesItsResultAndAHungRunIsTerminated) {
    slots.Resize(2);
    MakeWorkUnit(1, kMorning);
    MakeWorkUnit(2, kMorning + 1);
    WriteFile(InstFile(1, "work_unit.orv"), "name=unit one\nwu_number=1\nsim_cpu_seconds=60\n");
    WriteFile(InstFile(2, "work_unit.orv"), "name=unit two\nwu_number=2\nsim_cpu_seconds=60\n");
    SimKnobs(1, "ORVA_SIM_PROCESS_SECONDS=0.3\nORVA_SIM_STATE_INTERVAL=0.05\n");
    SimKnobs(2, "ORVA_SIM_HANG=1\n");

    engine.RestartEngine();
    ASSERT_EQ(slots.CountBusy(), 2u);
    ASSERT_EQ(dialog.Take(30s), WM_APP);
    ASSERT_EQ(dialog.Take(30s), WM_APP);

    EXPECT_FALSE(platform::PathExists(InstFile(1, "work_unit.orv")));
    EXPECT_TRUE(platform::PathExists(InstFile(2, "work_unit.orv")));
    EXPECT_FALSE(platform::PathExists(InstFile(2, "result.orv")));
    EXPECT_FALSE(platform::PathExists(InstFile(2, "state.orv")));
    EXPECT_TRUE(Clients(2).empty());
    EXPECT_EQ(slots.CountBusy(), 0u);
    EXPECT_FALSE(store.IsInstanceLocked(2)) << "the terminated client let its lock go";
}

} // namespace
} // namespace vantrel::test
