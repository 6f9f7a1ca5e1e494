// The walk of a transmit pass over the instances, with the real simulated client.
#include "support/buildpaths.h"
#include "support/childprocess.h"
#include "test_transmit_fixture.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

namespace vantrel::test::transmit {
namespace {

std::size_t CountLineEnds(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++count;
    return count;
}

TEST_F(TransmitTest, WalksFromTheTopAndRunsOnlyWhatHasSomethingToSendOrNeedsFilling) {
    MakeResult(1);
    MakeResult(2);
    MakeWorkUnit(3, 1700000000);
    std::string workUnit3 = ReadFile(InstFile(3, "work_unit.orv"));
    MakeEmpty(4);
    Mark(4);
    MakeEmpty(5);
    MakeResult(6);
    TestChild holder(LockHolderArgs("flock", InstFile(6, "lock.orv")));
    ASSERT_EQ(holder.ReadLine(), "locked");

    std::vector<unsigned> messages = RunUserPass();

    // 6 is locked by a running client, 4 is retired and empty, 3 already holds work.
    EXPECT_EQ(RunDirs(), (std::vector<std::string>{Inst(5), Inst(2), Inst(1)}));
    for (const SimRun& run : Runs()) {
        EXPECT_EQ(run.run, "transmit");
        EXPECT_EQ(run.args, "-stop_after_xfer");
    }
    EXPECT_EQ(Runs().at(0).title, "ORVA 5 - Transmit");
    EXPECT_EQ(Runs().at(2).title, "ORVA 1 - Transmit");
    // One WM_APP as the pass begins, one per instance sent, then WM_APP_1.
    EXPECT_EQ(messages, (std::vector<unsigned>{WM_APP, WM_APP, WM_APP, WM_APP, WM_APP_1}));

    for (unsigned n : {1u, 2u, 5u})
        EXPECT_EQ(store.GetInstanceState(n), IS_WORK_UNIT) << n;
    EXPECT_EQ(ReadFile(InstFile(3, "work_unit.orv")), workUnit3);
    EXPECT_EQ(store.GetInstanceState(4), IS_EMPTY);
    EXPECT_TRUE(store.HasStopAfterSend(4));
    EXPECT_EQ(store.GetInstanceState(6), IS_RESULT);
    // With logging off the results were not logged, and their markers went with the results.
    EXPECT_FALSE(std::filesystem::exists(dir / "ORVALog.csv"));
    EXPECT_FALSE(Exists(1, "ORVALogUpdated.txt"));
    EXPECT_FALSE(Exists(6, "ORVALogUpdated.txt"));

    // A result was met, the pass succeeded: the retry timer stays armed.
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"running", "arm", "idle"}));
    EXPECT_EQ(transmitter->RetryTimerId(), kRetryTimerId);
    EXPECT_EQ(host.Period(), TransmitTimings().retryInterval);
    EXPECT_FALSE(transmitter->TransmitRunning());
    EXPECT_STREQ(transmitter->TransmitCaption(), "Transmit");
}

TEST_F(TransmitTest, MovesTheMarkerFromAHigherBusyInstanceOntoTheOneBeingSent) {
    MakeResult(1);
    MakeWorkUnit(2, 1700000000);
    MakeWorkUnit(3, 1700000000);
    MakeWorkUnit(4, 1700000000);
    Mark(4);
    MakeEmpty(5);
    Mark(5);

    RunUserPass();

    ASSERT_EQ(RunDirs(), (std::vector<std::string>{Inst(1)}));
    // 1 carried the marker when its client ran, so it sent its result and fetched nothing.
    EXPECT_TRUE(store.HasStopAfterSend(1));
    EXPECT_EQ(store.GetInstanceState(1), IS_EMPTY);
    EXPECT_FALSE(store.HasStopAfterSend(4));
    EXPECT_EQ(store.GetInstanceState(4), IS_WORK_UNIT);
    EXPECT_TRUE(store.HasStopAfterSend(5));
    EXPECT_EQ(store.CountStopAfterSend(), 2u);
}

TEST_F(TransmitTest, ABrokenDownloadGetsTheLoopDetectorAndIsStartedAfreshNextPass) {
    // 1 breaks off its download; 2 broke off last time (detector present) and is retired.
    MakeEmpty(1);
    SetKnobs(1, "ORVA_SIM_PARTIAL_DOWNLOAD=1\n");
    MakeEmpty(2);
    WriteFile(InstFile(2, "wtemp.orv"), "bytes_received=4096\n");
    WriteFile(InstFile(2, "VantrelTransmitLoopDetector.txt"), "");
    WriteFile(InstFile(2, "leftover.txt"), "from the broken download");
    Mark(2);

    RunUserPass();

    EXPECT_EQ(RunDirs(), (std::vector<std::string>{Inst(2), Inst(1)}));
    // 2 was wiped, got its marker back, and its client fetched nothing.
    EXPECT_FALSE(Exists(2, "leftover.txt"));
    EXPECT_TRUE(store.HasStopAfterSend(2));
    EXPECT_EQ(store.GetInstanceState(2), IS_EMPTY);
    EXPECT_FALSE(Exists(2, "VantrelTransmitLoopDetector.txt"));
    // 1 failed: detector created, nothing wiped yet, and the retry timer armed to try again.
    EXPECT_EQ(store.GetInstanceState(1), IS_PARTIAL);
    EXPECT_TRUE(Exists(1, "VantrelTransmitLoopDetector.txt"));
    EXPECT_TRUE(Exists(1, "orva_sim_knobs.txt"));
    EXPECT_EQ(transmitter->RetryTimerId(), kRetryTimerId);
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"running", "arm", "idle"}));
    EXPECT_EQ(host.Period(), TransmitTimings().firstRetry);
    // The restart is reported, and the retired instance's run fetched nothing it should have.
    using Event = CRecordedEvents::Event;
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_INSTANCE_RESTARTED, 2}, {EV_TRANSMIT_SUCCEEDED, 2},
                                                 {EV_TRANSMIT_FAILED, 1}}));

    std::vector<unsigned> messages = RunUserPass();
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_INSTANCE_RESTARTED, 1}, {EV_TRANSMIT_SUCCEEDED, 1}}));

    // 2 is retired and empty now: skipped. 1 was wiped (its failure knob with it) and filled.
    EXPECT_EQ(RunDirs(), (std::vector<std::string>{Inst(2), Inst(1), Inst(1)}));
    EXPECT_FALSE(Exists(1, "orva_sim_knobs.txt"));
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_FALSE(Exists(1, "VantrelTransmitLoopDetector.txt"));
    EXPECT_FALSE(Exists(1, "wtemp.orv"));
    EXPECT_EQ(messages, (std::vector<unsigned>{WM_APP, WM_APP, WM_APP_1}));
}

TEST_F(TransmitTest, ACountTakenDuringAPassSeesEveryInstanceAndEveryMarker) {
    // Each pass starts 2 afresh (a broken download, retired) and moves 4's marker onto 1, which
    // is sent. The desired size is the count less the markers: a count that met either step half
    // done would shrink the cache at the pass's end. A count probes each lock file as well, and
    // the pass must not take that probe for a client in 1.
    auto prepare = [&] {
        auto hold = store.LockInstances();
        MakeResult(1);
        store.SetStopAfterSend(1, false);
        MakeEmpty(2);
        WriteFile(InstFile(2, "wtemp.orv"), "bytes_received=4096\n");
        WriteFile(InstFile(2, "VantrelTransmitLoopDetector.txt"), "");
        Mark(2);
        MakeWorkUnit(3, 1700000000);
        MakeWorkUnit(4, 1700000000);
        Mark(4);
    };
    prepare();
    std::atomic<bool> done{false};
    std::atomic<unsigned> counts{0};
    std::mutex seenMutex;
    std::vector<std::string> seen;
    std::thread counter([&] {
        while (!done.load()) {
            const CacheTally tally = TallyCache(store);
            counts.fetch_add(1);
            if (tally.Instances != 4 || tally.StopAfterSend != 2) {
                std::lock_guard lock(seenMutex);
                seen.push_back(std::to_string(tally.Instances) + " instances, " +
                               std::to_string(tally.StopAfterSend) + " markers");
            }
        }
    });
    constexpr int kPasses = 8;
    for (int pass = 0; pass < kPasses; ++pass) {
        RunUserPass();
        EXPECT_TRUE(store.HasStopAfterSend(1));
        EXPECT_FALSE(store.HasStopAfterSend(4));
        prepare();
    }
    done.store(true);
    counter.join();
    EXPECT_EQ(Runs().size(), 2u * kPasses);
    EXPECT_GT(counts.load(), 0u);
    std::lock_guard lock(seenMutex);
    EXPECT_TRUE(seen.empty()) << seen.size() << " counts went wrong, the first: " << (seen.empty() ? "" : seen.front());
}

TEST_F(TransmitTest, AResultThatNeverGoesIsLoggedOnceAndKept) {
    options.LogEnabled = true;
    MakeResult(1);
    MakeUserInfo(1, 4);
    SetKnobs(1, "ORVA_SIM_FAIL_TRANSFER=1\n");

    for (int pass = 0; pass < 3; ++pass) {
        std::vector<unsigned> messages = RunUserPass();
        // No success: only the WM_APP of the pass's beginning.
        EXPECT_EQ(messages, (std::vector<unsigned>{WM_APP, WM_APP_1}));
    }

    EXPECT_EQ(Runs().size(), 3u);
    using Event = CRecordedEvents::Event;
    EXPECT_EQ(events.Take(), (std::vector<Event>(3, {EV_TRANSMIT_FAILED, 1})));
    EXPECT_EQ(store.GetInstanceState(1), IS_RESULT);
    EXPECT_TRUE(Exists(1, "VantrelTransmitLoopDetector.txt"));
    EXPECT_TRUE(Exists(1, "ORVALogUpdated.txt"));
    std::string log = ReadFile(dir / "ORVALog.csv");
    // The header and one row after it, whatever the number of passes.
    EXPECT_EQ(CountLineEnds(log), 1u);
    EXPECT_NE(log.find("\"wu1\""), std::string::npos);
    // Each pass armed the retry timer on meeting the result and again, for the retry, at its failed
    // end; the next start disarmed it.
    EXPECT_EQ(host.Events(),
              (std::vector<std::string>{"running", "arm", "arm", "idle", "kill", "running", "arm", "arm", "idle", "kill",
                                        "running", "arm", "arm", "idle"}));
    EXPECT_EQ(transmitter->RetryTimerId(), kRetryTimerId);
}

TEST_F(TransmitTest, ARowTheLogCannotTakeIsReportedAndNothingElse) {
    // The log's name is taken by a directory: no row can be added.
    MakeDirs(dir / "ORVALog.csv");
    MakeResult(1);
    MakeUserInfo(1, 4);
    MakeResult(2);
    MakeUserInfo(2, 4);
    options.LogEnabled = true;
    RunUserPass();
    using Event = CRecordedEvents::Event;
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_LOG_WRITE_FAILED, 2}, {EV_LOG_WRITE_FAILED, 1}}));

    // With logging off nothing is to be written, so nothing failed.
    options.LogEnabled = false;
    RunUserPass();
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_TRANSMIT_SUCCEEDED, 2}, {EV_TRANSMIT_SUCCEEDED, 1}}));
}

TEST_F(TransmitTest, TheOldClientCopyGoesAfterASendButTheMainClientNeverDoes) {
    // The old copy is the only working client: the main path names nothing.
    MakeResult(1);
    std::filesystem::copy_file(test::build::kOrvaSim, InstFile(1, "ORVAOldClient.exe"));
    store.SetClientPath(dir / "ORVA_missing_cmdline.exe");
    ASSERT_EQ(std::filesystem::path(store.GetClientForInstance(1)), std::filesystem::path(InstFile(1, "ORVAOldClient.exe")));

    transmitter->TransmitToggle();
    ASSERT_EQ(dialog.Take(10s), std::optional<unsigned>(WM_APP));
    // The dialog hears of the success only once the instance is tidied, so a processing run it
    // starts then cannot pick the old copy up.
    ASSERT_EQ(dialog.Take(30s), std::optional<unsigned>(WM_APP));
    EXPECT_FALSE(Exists(1, "ORVAOldClient.exe"));
    EXPECT_FALSE(Exists(1, "ORVALogUpdated.txt"));
    WaitForPassEnd();

    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_FALSE(Exists(1, "ORVAOldClient.exe"));
    EXPECT_EQ(store.GetClientForInstance(1), dir / "ORVA_missing_cmdline.exe");

    // A main client that the user keeps inside an instance directory is used, never deleted.
    std::string client = InstFile(1, "ORVA_cmdline.exe");
    std::filesystem::copy_file(test::build::kOrvaSim, client);
    store.SetClientPath(client);
    RefillWithResult(1);

    RunUserPass();

    ASSERT_EQ(Runs().size(), 2u);
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_TRUE(std::filesystem::exists(client));
}

TEST_F(TransmitTest, TheNewestAccountFileEndsUpBesideTheProgram) {
    WriteFile(dir / "user_info.orv", "NRESULTS=10\n");
    MakeWorkUnit(1, 1700000000);
    MakeResult(3);
    MakeUserInfo(3, 15);
    MakeResult(2);
    MakeUserInfo(2, 12);

    RunUserPass();

    // The client counts each sent result: 3 now holds 16 and 2 holds 13. 2's file was copied up
    // after 3's, yet the highest, 3's, is the one left beside the program.
    ASSERT_EQ(store.ReadResultCount(3), 16);
    ASSERT_EQ(store.ReadResultCount(2), 13);
    EXPECT_EQ(ReadFile(dir / "user_info.orv"), ReadFile(InstFile(3, "user_info.orv")));

    // A sent result's account is copied up even when it counts less than the one already there.
    WriteFile(dir / "user_info.orv", "NRESULTS=40\n");
    RefillWithResult(2);

    RunUserPass();

    EXPECT_EQ(store.ReadResultCount(0), 14);
    EXPECT_EQ(ReadFile(dir / "user_info.orv"), ReadFile(InstFile(2, "user_info.orv")));
}

TEST_F(TransmitTest, APassWithoutInstancesStillShowsItselfAndReports) {
    std::vector<unsigned> messages = RunUserPass();

    EXPECT_EQ(messages, (std::vector<unsigned>{WM_APP, WM_APP_1}));
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"running", "idle"}));
    EXPECT_TRUE(Runs().empty());
}

} // namespace
} // namespace vantrel::test::transmit
