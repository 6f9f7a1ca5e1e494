// Starting, stopping and ending transmit passes; the retry timer; what each client is given.
#include "platform/process.h"
#include "test_transmit_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace vantrel::test::transmit {
namespace {

// Long enough that a client still sending when its pass ends can only have been killed.
constexpr const char* kSlowTransfer = "ORVA_SIM_TRANSFER_SECONDS=120\n";

TEST_F(TransmitTest, AStopKillsTheRunningClientAndEveryLaterOneAfterItsPause) {
    // A later client is killed once its pause is over. On a loaded machine it may be killed before
    // it has recorded its own start, so what must hold is judged on every client by its title and
    // directory: none is left running, whether or not it got as far as its record.
    ctx.timings.transmitPause = 1s;
    for (unsigned n : {1u, 2u, 3u}) {
        MakeResult(n);
        SetKnobs(n, kSlowTransfer);
    }
    options.AutoTransmit = true;

    transmitter->TransmitToggle();
    ASSERT_TRUE(WaitForRuns(1));
    ASSERT_TRUE(transmitter->TransmitRunning());
    EXPECT_STREQ(transmitter->TransmitCaption(), "Stop Transmit");
    // An automatic check while a pass runs starts no second pass.
    transmitter->CheckAutoTransmit(3, 3);
    transmitter->TransmitToggle();
    std::vector<unsigned> messages = WaitForPassEnd();

    std::vector<SimRun> runs = Runs();
    ASSERT_GE(runs.size(), 1u);
    ASSERT_LE(runs.size(), 3u);
    for (std::size_t k = 0; k < runs.size(); ++k) {
        EXPECT_EQ(runs[k].dir, Inst(3 - static_cast<unsigned>(k)));
        EXPECT_FALSE(IsProcessRunning(runs[k].pid)) << runs[k].dir;
    }
    for (unsigned n : {1u, 2u, 3u}) {
        std::string title = "ORVA " + std::to_string(n) + " - Transmit";
        EXPECT_TRUE(platform::FindProcessesByTitle(title, Inst(n)).empty()) << n;
        // The post-run checks still ran: every result stays and is marked as failed.
        EXPECT_EQ(store.GetInstanceState(n), IS_RESULT) << n;
        EXPECT_TRUE(Exists(n, "VantrelTransmitLoopDetector.txt")) << n;
    }
    EXPECT_EQ(messages, (std::vector<unsigned>{WM_APP, WM_APP_1}));
    EXPECT_FALSE(dialog.Take(200ms).has_value());

    // The next start clears the stop: the same instances are now sent.
    for (unsigned n : {1u, 2u, 3u})
        std::filesystem::remove(InstFile(n, "orva_sim_knobs.txt"));
    messages = RunUserPass();
    EXPECT_EQ(Runs().size(), runs.size() + 3);
    for (unsigned n : {1u, 2u, 3u}) {
        EXPECT_EQ(store.GetInstanceState(n), IS_WORK_UNIT) << n;
        EXPECT_FALSE(Exists(n, "VantrelTransmitLoopDetector.txt")) << n;
    }
    EXPECT_EQ(CountOf(messages, WM_APP), 4u);
}

struct ShowRow {
    const char* name;
    bool automatic;
    bool displayTransmit;
    bool accountFile; // some instance holds "user_info.orv" before the pass
    const char* first;
    const char* later;
};

class TransmitShowTest : public TransmitTest, public ::testing::WithParamInterface<ShowRow> {};

TEST_P(TransmitShowTest, ConsolesAreShownByWhoStartedThePassAndDisplayTransmit) {
    const ShowRow& row = GetParam();
    MakeEmpty(1);
    MakeEmpty(2);
    if (row.accountFile)
        MakeUserInfo(2, 5);
    options.DisplayTransmit = row.displayTransmit;
    options.HideProcessing = false;
    options.ClientShowMode = platform::SW_MINIMIZE;

    if (row.automatic) {
        options.AutoTransmit = true;
        transmitter->CheckAutoTransmit(0, 2);
    } else {
        transmitter->TransmitToggle();
    }
    WaitForPassEnd();

    std::vector<SimRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].show, row.first);
    EXPECT_EQ(runs[1].show, row.later);
}

INSTANTIATE_TEST_SUITE_P(EveryRow, TransmitShowTest,
                         ::testing::Values(ShowRow{"UserDisplayed", false, true, true, "1", "1"},
                                           ShowRow{"UserNotDisplayed", false, false, true, "1", "7"},
                                           ShowRow{"AutomaticDisplayed", true, true, true, "1", "1"},
                                           ShowRow{"AutomaticNotDisplayed", true, false, true, "6", "6"},
                                           // Without any account file the first console is shown; its client makes one,
                                           // which the second instance is then given.
                                           ShowRow{"AutomaticWithoutAccount", true, false, false, "1", "6"}),
                         [](const ::testing::TestParamInfo<ShowRow>& row) { return std::string(row.param.name); });

TEST_F(TransmitTest, TheRetryTimerIsDisarmedByEveryStartCheckAndExit) {
    MakeResult(1);
    RunUserPass();
    ASSERT_EQ(transmitter->RetryTimerId(), kRetryTimerId);

    // With Auto Transmit off the timer's expiry only disarms it.
    host.Clear();
    transmitter->OnTimer(kRetryTimerId, 1, 0);
    EXPECT_EQ(transmitter->RetryTimerId(), 0u);
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"kill"}));
    EXPECT_FALSE(transmitter->TransmitRunning());
    EXPECT_EQ(dialog.Pending(), 0u);

    // Another timer's expiry is not the retry timer's.
    RefillWithResult(1);
    RunUserPass();
    host.Clear();
    transmitter->OnTimer(kRetryTimerId + 1, 1, 0);
    EXPECT_EQ(transmitter->RetryTimerId(), kRetryTimerId);
    EXPECT_TRUE(host.Events().empty());

    // With Auto Transmit on it disarms and starts an automatic pass.
    RefillWithResult(1);
    options.AutoTransmit = true;
    transmitter->OnTimer(kRetryTimerId, 1, 0);
    WaitForPassEnd();
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"kill", "running", "arm", "idle"}));
    EXPECT_EQ(Runs().size(), 3u);

    // Nothing to send or fill: the check disarms and starts nothing.
    host.Clear();
    transmitter->CheckAutoTransmit(0, 0);
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"kill"}));
    EXPECT_EQ(dialog.Pending(), 0u);

    // A start by the user disarms before its pass runs.
    RefillWithResult(1);
    transmitter->CheckAutoTransmit(1, 0);
    WaitForPassEnd();
    host.Clear();
    transmitter->TransmitToggle();
    WaitForPassEnd();
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"kill", "running", "idle"}));

    // Exit disarms, and nothing starts after it.
    RefillWithResult(1);
    RunUserPass();
    ASSERT_EQ(transmitter->RetryTimerId(), kRetryTimerId);
    host.Clear();
    transmitter->Shutdown();
    EXPECT_EQ(transmitter->RetryTimerId(), 0u);
    transmitter->TransmitToggle();
    transmitter->CheckAutoTransmit(1, 1);
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"kill"}));
    EXPECT_FALSE(dialog.Take(200ms).has_value());
}

TEST_F(TransmitTest, ExitDuringAPassLeavesItsClientRunningAndEndsThePassCleanly) {
    MakeResult(1);
    MakeResult(2);
    SetKnobs(2, kSlowTransfer);

    transmitter->TransmitToggle();
    ASSERT_TRUE(WaitForRuns(1));
    // Past the client's pause, into the wait for its end.
    std::this_thread::sleep_for(TransmitTimings().transmitPause * 4);
    transmitter->Shutdown();

    SimRun run = Runs().at(0);
    EXPECT_EQ(run.dir, Inst(2));
    EXPECT_TRUE(IsProcessRunning(run.pid));
    std::vector<platform::ProcessHandle> clients = platform::FindProcessesByTitle("ORVA 2 - Transmit", Inst(2));
    ASSERT_EQ(clients.size(), 1u);
    // The pass skipped the rest: no judgement of the unfinished run, no further instance, no
    // end report to a dialog that is going away.
    EXPECT_FALSE(Exists(2, "VantrelTransmitLoopDetector.txt"));
    EXPECT_EQ(Runs().size(), 1u);
    EXPECT_EQ(dialog.Take(10ms), std::optional<unsigned>(WM_APP));
    EXPECT_FALSE(dialog.Take(200ms).has_value());
    EXPECT_FALSE(transmitter->TransmitRunning());
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"running", "arm", "kill"}));

    clients[0].Terminate();
    EXPECT_TRUE(clients[0].WaitForExit(10s));
}

TEST_F(TransmitTest, ExitDuringTheClientsPauseEndsThePassAtOnce) {
    ctx.timings.transmitPause = std::chrono::hours(1);
    MakeResult(1);
    SetKnobs(1, kSlowTransfer);

    transmitter->TransmitToggle();
    ASSERT_TRUE(WaitForRuns(1));
    // Returns long before the hour: the pause gives way to exit.
    transmitter->Shutdown();

    SimRun run = Runs().at(0);
    EXPECT_TRUE(IsProcessRunning(run.pid));
    std::vector<platform::ProcessHandle> clients = platform::FindProcessesByTitle("ORVA 1 - Transmit", Inst(1));
    ASSERT_EQ(clients.size(), 1u);
    clients[0].Terminate();
    EXPECT_TRUE(clients[0].WaitForExit(10s));
}

TEST_F(TransmitTest, ServerSwitchesReachTheClientAsSeparateWordsWithoutAShell) {
    options.ServerMode = SM_SOCKS;
    options.ServerHost = "  socks.example ";
    options.ServerPort = 1080;
    options.UseColon = true;
    options.SocksUser = "ann lee";
    options.SocksPassword = "p;$(touch pwned)'\"";
    MakeEmpty(1);

    RunUserPass();

    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0].args, "-stop_after_xfer -socks_server socks.example:1080 -socks_user ann\\slee "
                              "-socks_passwd p;$(touch\\spwned)'\"");
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_FALSE(Exists(1, "pwned"));
}

TEST_F(TransmitTest, AnAutomaticPassStartsItsClientsAtTheProgramsPriority) {
    // The pass thread lowers itself for an automatic pass; its clients must not inherit that.
    ctx.timings.transmitPause = 500ms;
    MakeResult(1);
    SetKnobs(1, kSlowTransfer);
    options.AutoTransmit = true;

    transmitter->CheckAutoTransmit(1, 0);
    ASSERT_TRUE(WaitForRuns(1));
    const platform::ProcessId pid = Runs().at(0).pid;
    const std::optional<std::uint32_t> own = platform::GetPriorityClass(platform::CurrentProcessId());
    ASSERT_TRUE(own.has_value());
    EXPECT_EQ(platform::GetPriorityClass(pid), own);

    transmitter->TransmitToggle();
    WaitForPassEnd();
    EXPECT_FALSE(IsProcessRunning(pid));
}

TEST_F(TransmitTest, StopTransmitEndsTheClientInsideItsTerminalBeforeThePassEnds) {
    if (std::string tool = CTestDisplay::MissingTool(); !tool.empty())
        GTEST_SKIP() << tool << " is not installed";
    CTestDisplay display;
    ASSERT_TRUE(display.IsReady());
    ctx.timings.transmitPause = 200ms;
    MakeResult(1);
    MakeUserInfo(1, 5);
    SetKnobs(1, kSlowTransfer);
    options.DisplayTransmit = true; // the client runs inside xterm

    transmitter->TransmitToggle();
    ASSERT_TRUE(WaitForRuns(1));
    const long pid = Runs().at(0).pid;
    ASSERT_TRUE(IsProcessRunning(pid));
    ASSERT_TRUE(WaitUntil([&] { return transmitter->TransmitRunning(); }));
    transmitter->TransmitToggle();
    WaitForPassEnd();
    // Ended by the pass itself, not later by the terminal's hang-up: the instance it judged is
    // no longer being written.
    EXPECT_FALSE(IsProcessRunning(pid));
}

TEST_F(TransmitTest, HighPriorityIsGivenWhenChosenAtTheEndOfThePause) {
    if (!MayRaiseProcessPriority())
        GTEST_SKIP() << "raising a process's priority needs the right to do so";
    ctx.timings.transmitPause = 500ms;
    MakeResult(1);
    SetKnobs(1, kSlowTransfer);

    transmitter->TransmitToggle();
    ASSERT_TRUE(WaitForRuns(1));
    long pid = Runs().at(0).pid;
    EXPECT_EQ(platform::GetPriorityClass(pid), platform::NORMAL_PRIORITY_CLASS);
    // Chosen while the pause runs: what counts is the button's state when it is over.
    options.ClientPriority = CP_HIGH;
    std::optional<std::uint32_t> priority;
    WaitUntil([&] {
        priority = platform::GetPriorityClass(pid);
        return priority == platform::HIGH_PRIORITY_CLASS;
    });
    EXPECT_EQ(priority, platform::HIGH_PRIORITY_CLASS);

    transmitter->TransmitToggle();
    WaitForPassEnd();
    EXPECT_FALSE(IsProcessRunning(pid));
}

} // namespace
} // namespace vantrel::test::transmit

namespace vantrel::test::transmit {
namespace {

TEST_F(TransmitTest, AResultThatFinishedDuringAPassIsSentWhenThePassEnds) {
    options.AutoTransmit = true;
    // Met by a pass whose transmit failed: not retried in a loop at the pass's end.
    MakeResult(1);
    SetKnobs(1, "ORVA_SIM_FAIL_TRANSFER=1\n");
    RunUserPass();
    ASSERT_TRUE(Exists(1, "ORVALogUpdated.txt"));
    transmitter->OnPassEnded(1, 0);
    EXPECT_FALSE(transmitter->TransmitRunning());
    EXPECT_EQ(Runs().size(), 1u);

    // A result no pass has met yet (its client finished while the pass ran) gets a pass.
    MakeResult(2);
    transmitter->OnPassEnded(2, 0);
    WaitForPassEnd();
    ASSERT_EQ(Runs().size(), 3u);
    EXPECT_EQ(store.GetInstanceState(2), IS_WORK_UNIT);

    // With Auto Transmit off nothing starts by itself.
    options.AutoTransmit = false;
    MakeResult(3);
    transmitter->OnPassEnded(3, 0);
    EXPECT_FALSE(transmitter->TransmitRunning());
    EXPECT_EQ(Runs().size(), 3u);
}

TEST_F(TransmitTest, APassStartedWhileTheCacheIsRenumberedWaitsAndLogsTheMovedResultOnce) {
    options.LogEnabled = true;
    MakeEmpty(1);
    MakeResult(2);
    {
        std::unique_lock hold = transmitter->HoldOffPasses();
        ASSERT_TRUE(hold.owns_lock());
        transmitter->TransmitToggle();
        // The empty instance goes and the result moves down to 1 under the waiting pass.
        store.CompactInstances();
        ASSERT_EQ(store.GetInstanceState(1), IS_RESULT);
        ASSERT_EQ(store.GetInstanceState(2), IS_MISSING);
        std::vector<std::string> calls = host.Events();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "running"), 0) << "the pass walked during the hold";
    }
    WaitForPassEnd();
    EXPECT_EQ(RunDirs(), std::vector<std::string>{Inst(1)});
    const std::string log = ReadFile(dir / "ORVALog.csv");
    std::size_t rows = 0;
    for (std::size_t at = log.find("wu2"); at != std::string::npos; at = log.find("wu2", at + 1))
        ++rows;
    EXPECT_EQ(rows, 1u) << log;

    // While a pass holds the cache nothing may renumber it; once it has ended, the hold is free.
    RefillWithResult(1);
    SetKnobs(1, kSlowTransfer);
    transmitter->TransmitToggle();
    ASSERT_TRUE(WaitForRuns(2));
    EXPECT_FALSE(transmitter->HoldOffPasses().owns_lock());
    transmitter->TransmitToggle();
    WaitForPassEnd();
    EXPECT_TRUE(transmitter->HoldOffPasses().owns_lock());
}

} // namespace
} // namespace vantrel::test::transmit
