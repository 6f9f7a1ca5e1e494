// Transmit passes while the world fails: a server that is out of reach or out of work, a result
// held by a hung client, a log that cannot be written. Each fault fails the pass, and the pass is
// retried by the retry timer alone, never by the next message.
#include <gtest/gtest.h>

#include <algorithm>

#include "data/logformat.h"
#include "data/resultlog.h"
#include "support/childprocess.h"
#include "test_transmit_fixture.h"

namespace vantrel::test::transmit {
namespace {

class TransmitFaultTest : public TransmitTest {
protected:
    TransmitFaultTest() {
        ctx.timings.firstRetry = 1min;
        options.AutoTransmit = true;
    }
    void ServerSwitch(const char* name, bool on) {
        if (on)
            WriteFile(server / name, "");
        else
            std::filesystem::remove(server / name);
    }
    std::size_t Received() const {
        std::error_code error;
        auto it = std::filesystem::directory_iterator(server / "received", error);
        return error ? 0 : static_cast<std::size_t>(std::distance(it, std::filesystem::directory_iterator()));
    }
    // What the dialog's WM_APP handler does; whether a pass started.
    bool AutomaticCheck() {
        CacheCounters counters = CountCacheState(store, slots);
        transmitter->CheckAutoTransmit(counters.ReadyToTransmit, counters.NeedToFill);
        return transmitter->TransmitRunning() || dialog.Take(200ms).has_value();
    }
    void FireRetryTimer() {
        CacheCounters counters = CountCacheState(store, slots);
        transmitter->OnTimer(kRetryTimerId, counters.ReadyToTransmit, counters.NeedToFill);
    }
};

TEST_F(TransmitFaultTest, AFillThatFetchesNothingFailsThePassWhichTheTimerAloneRetries) {
    MakeEmpty(1);
    MakeResult(2);
    ServerSwitch("no_work", true);

    std::vector<unsigned> messages = RunUserPass();
    // The result went and was tidied up, but nothing came back: no success message.
    EXPECT_EQ(messages, (std::vector<unsigned>{WM_APP, WM_APP_1}));
    EXPECT_EQ(Received(), 1u);
    for (unsigned n : {1u, 2u}) {
        EXPECT_EQ(store.GetInstanceState(n), IS_EMPTY) << n;
        EXPECT_TRUE(Exists(n, "VantrelTransmitLoopDetector.txt")) << n;
        EXPECT_FALSE(Exists(n, "ORVALogUpdated.txt")) << n;
    }
    EXPECT_EQ(transmitter->RetryTimerId(), kRetryTimerId);
    EXPECT_EQ(host.Period(), 1min);

    // Every later message finds the cache in need of filling, and starts nothing.
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(AutomaticCheck());
    transmitter->OnPassEnded(0, 2);
    EXPECT_FALSE(transmitter->TransmitRunning());
    EXPECT_EQ(Runs().size(), 2u);
    EXPECT_EQ(transmitter->RetryTimerId(), kRetryTimerId);

    // The timer retries; another failure waits twice as long.
    FireRetryTimer();
    WaitForPassEnd();
    EXPECT_EQ(Runs().size(), 4u);
    EXPECT_EQ(host.Period(), 2min);
    EXPECT_EQ(transmitter->RetryDelay(1), 1min);
    EXPECT_EQ(transmitter->RetryDelay(6), 32min);
    EXPECT_EQ(transmitter->RetryDelay(7), TransmitTimings().retryInterval);
    EXPECT_EQ(transmitter->RetryDelay(40), TransmitTimings().retryInterval);

    // Back in work: the next retry fills the cache, and a later failure starts from the first wait.
    ServerSwitch("no_work", false);
    FireRetryTimer();
    WaitForPassEnd();
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_EQ(store.GetInstanceState(2), IS_WORK_UNIT);
    EXPECT_FALSE(Exists(1, "VantrelTransmitLoopDetector.txt"));
    EXPECT_EQ(transmitter->RetryTimerId(), 0u);
    MakeEmpty(3);
    ServerSwitch("unreachable", true);
    RunUserPass();
    EXPECT_EQ(host.Period(), 1min);

    // With Auto Transmit off the retry starts nothing.
    options.AutoTransmit = false;
    const std::size_t runs = Runs().size();
    FireRetryTimer();
    EXPECT_FALSE(transmitter->TransmitRunning());
    EXPECT_EQ(transmitter->RetryTimerId(), 0u);
    EXPECT_EQ(Runs().size(), runs);
}

TEST_F(TransmitFaultTest, AResultWhoseClientHangsHoldingItsLockStartsNoPass) {
    MakeResult(1);
    auto holder = std::make_unique<TestChild>(LockHolderArgs("flock", InstFile(1, "lock.orv")));
    ASSERT_EQ(holder->ReadLine(), "locked");

    EXPECT_EQ(CountCacheState(store, slots).ReadyToTransmit, 0u);
    EXPECT_FALSE(AutomaticCheck());
    transmitter->OnPassEnded(1, 0);
    EXPECT_FALSE(transmitter->TransmitRunning());
    EXPECT_EQ(dialog.Pending(), 0u);

    // Once the client has let go, the result is counted and sent.
    holder.reset();
    EXPECT_EQ(CountCacheState(store, slots).ReadyToTransmit, 1u);
    EXPECT_TRUE(AutomaticCheck());
    WaitForPassEnd();
    EXPECT_EQ(Received(), 1u);
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
}

TEST_F(TransmitFaultTest, AResultWhoseRowCannotBeWrittenWaitsUntilItIsLogged) {
    options.LogEnabled = true;
    MakeResult(1);
    WriteFile(dir / "ORVALog.csv", LogHeader());
    auto holder = std::make_unique<TestChild>(LockHolderArgs("flock", dir / "ORVALog.csv"));
    ASSERT_EQ(holder->ReadLine(), "locked");

    RunUserPass();
    // Sent now, its row would be lost for good: it stays, unmarked, and the pass has failed.
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(store.GetInstanceState(1), IS_RESULT);
    EXPECT_FALSE(Exists(1, "ORVALogUpdated.txt"));
    EXPECT_EQ(transmitter->RetryTimerId(), kRetryTimerId);
    EXPECT_FALSE(AutomaticCheck());

    holder.reset();
    FireRetryTimer();
    WaitForPassEnd();
    EXPECT_EQ(Received(), 1u);
    std::string log = ReadFile(dir / "ORVALog.csv");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("wu1"), std::string::npos);
}

// Moves a file's last-write time back by the given age.
void Backdate(const std::string& path, std::chrono::seconds age) {
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - age);
}

TEST_F(TransmitFaultTest, AResultTheLogKeepsRefusingIsHeldADayAtMostThenSentWithoutItsRow) {
    using Event = CRecordedEvents::Event;
    options.LogEnabled = true;
    MakeDirs(dir / "ORVALog.csv"); // the log's name is taken: no row can be added
    MakeResult(1);

    RunUserPass();
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_LOG_WRITE_FAILED, 1}}));
    EXPECT_TRUE(Runs().empty());
    EXPECT_TRUE(Exists(1, "ORVALogHeld.txt"));
    EXPECT_TRUE(transmitter->LogUnwritable());
    EXPECT_EQ(transmitter->LogRowsLost(), 0u);

    // The hold is counted from its file, so a restart does not start it afresh; near its end the
    // retry comes when it ends rather than after the usual wait.
    Backdate(InstFile(1, "result.orv"), 24h - 1min);
    Backdate(InstFile(1, "ORVALogHeld.txt"), 24h - 1min);
    FireRetryTimer();
    WaitForPassEnd();
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_LOG_WRITE_FAILED, 1}}));
    EXPECT_TRUE(Runs().empty());
    EXPECT_LE(host.Period(), 1min);
    EXPECT_GT(host.Period(), 0ms);

    // Past the day: sent without its row, and said so.
    Backdate(InstFile(1, "result.orv"), 24h + 1min);
    Backdate(InstFile(1, "ORVALogHeld.txt"), 24h + 1min);
    FireRetryTimer();
    WaitForPassEnd();
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_LOG_ROW_LOST, 1}, {EV_TRANSMIT_SUCCEEDED, 1}}));
    EXPECT_EQ(Received(), 1u);
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_FALSE(Exists(1, "ORVALogHeld.txt"));
    EXPECT_FALSE(Exists(1, "ORVALogUpdated.txt"));
    EXPECT_EQ(transmitter->LogRowsLost(), 1u);
    EXPECT_TRUE(transmitter->LogUnwritable());

    // A hold file older than the result is an earlier result's: the new one waits a day afresh.
    RefillWithResult(1);
    WriteFile(InstFile(1, "ORVALogHeld.txt"), "");
    Backdate(InstFile(1, "ORVALogHeld.txt"), 48h);
    RunUserPass();
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_LOG_WRITE_FAILED, 1}}));
    EXPECT_EQ(store.GetInstanceState(1), IS_RESULT);
    EXPECT_EQ(Received(), 1u);

    // The log comes back: the row is written once, the result sent, the hold over.
    std::filesystem::remove(dir / "ORVALog.csv");
    FireRetryTimer();
    WaitForPassEnd();
    EXPECT_EQ(events.Take(), (std::vector<Event>{{EV_TRANSMIT_SUCCEEDED, 1}}));
    EXPECT_EQ(Runs().size(), 2u);
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_FALSE(Exists(1, "ORVALogHeld.txt"));
    EXPECT_FALSE(transmitter->LogUnwritable());
    EXPECT_EQ(transmitter->LogRowsLost(), 1u);
    std::string log = ReadFile(dir / "ORVALog.csv");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

} // namespace
} // namespace vantrel::test::transmit
