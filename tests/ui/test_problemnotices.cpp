// Notifications of problems: each kind once, then quiet for the repeat period; none while the
// user has not asked for them; events from engine threads shown on the dialog's thread.
#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "test_dialog_support.h"
#include "control/problemnotices.h"
#include "host/enginepump.h"
#include "control/problemnotifier.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

// A clock that moves only when the test moves it.
struct ManualClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
    CProblemNotifier::Clock Get() {
        return [this] { return now; };
    }
};

std::vector<EProblem> Kinds(const std::vector<std::optional<ProblemNotice>>& notices) {
    std::vector<EProblem> kinds;
    for (const auto& notice : notices)
        if (notice)
            kinds.push_back(notice->Kind);
    return kinds;
}

TEST(ProblemNotifier, EachKindFiresOnceAnHourAndOnlyWhenAskedFor) {
    COptions options;
    ManualClock clock;
    CProblemNotifier notifier(options, Timings{}, clock.Get());
    // Transfers have failed for the six hours that count by default.
    EXPECT_FALSE(notifier.OnEvent(EV_TRANSMIT_FAILED, 4));
    clock.now += 6h;
    // Every kind's cause, the client's with its three quick ends in a row.
    auto everyProblem = [&] {
        std::vector<std::optional<ProblemNotice>> shown;
        shown.push_back(notifier.OnEvent(EV_TRANSMIT_FAILED, 4));
        for (int i = 0; i < 3; ++i)
            shown.push_back(notifier.OnEvent(EV_CLIENT_ENDED_AT_ONCE, 2));
        shown.push_back(notifier.OnEvent(EV_LOG_WRITE_FAILED, 3));
        shown.push_back(notifier.OnEvent(EV_CONFIG_WRITE_FAILED, 0));
        shown.push_back(notifier.OnEvent(EV_INSTANCE_RESTARTED, 5));
        return shown;
    };

    // Off by default: the causes are noted, nothing is shown.
    EXPECT_TRUE(Kinds(everyProblem()).empty());

    options.NotifyProblems = true;
    clock.now += 1min;
    std::vector<std::optional<ProblemNotice>> first = everyProblem();
    EXPECT_EQ(Kinds(first), (std::vector<EProblem>{EProblem::TransfersFailing, EProblem::ClientEndsAtOnce,
                                                   EProblem::WriteFailed, EProblem::InstanceRestarted}))
        << "the configuration's failure is of the log's kind, already shown";
    for (const auto& notice : first) {
        if (notice) {
            EXPECT_EQ(notice->Title, "Vantrel");
        }
    }
    EXPECT_NE(first[0]->Text.find("more than 6 hours"), std::string::npos) << first[0]->Text;
    EXPECT_NE(first[1]->Text.find("instance 2"), std::string::npos) << first[1]->Text;

    // Within the hour, nothing again; an hour after each was shown, each once more.
    clock.now += 30min;
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(notifier.OnEvent(EV_CLIENT_ENDED_AT_ONCE, 2));
    EXPECT_FALSE(notifier.OnEvent(EV_CONFIG_WRITE_FAILED, 0));
    EXPECT_FALSE(notifier.OnEvent(EV_INSTANCE_RESTARTED, 5));
    EXPECT_FALSE(notifier.CheckTransfers());
    clock.now += 30min;
    EXPECT_EQ(Kinds({notifier.OnEvent(EV_CONFIG_WRITE_FAILED, 0), notifier.OnEvent(EV_INSTANCE_RESTARTED, 5),
                     notifier.CheckTransfers(), notifier.OnEvent(EV_CLIENT_ENDED_AT_ONCE, 2)}),
              (std::vector<EProblem>{EProblem::WriteFailed, EProblem::InstanceRestarted, EProblem::TransfersFailing,
                                     EProblem::ClientEndsAtOnce}));
}

TEST(ProblemNotifier, TransfersCountFromTheFirstFailureAndQuickEndsFromTheLastWorkingClient) {
    COptions options;
    options.NotifyProblems = true;
    options.NotifyAfterHours = 2;
    ManualClock clock;
    CProblemNotifier notifier(options, Timings{}, clock.Get());
    EXPECT_FALSE(notifier.TransfersDueAt());
    const auto firstFailure = clock.now;
    EXPECT_FALSE(notifier.OnEvent(EV_TRANSMIT_FAILED, 1));
    clock.now += 90min;
    EXPECT_FALSE(notifier.OnEvent(EV_TRANSMIT_FAILED, 1));
    EXPECT_EQ(notifier.TransfersDueAt(), firstFailure + 2h) << "a later failure does not move the start";
    clock.now = firstFailure + 2h - 1ms;
    EXPECT_FALSE(notifier.CheckTransfers());
    // A success in between starts the count afresh.
    EXPECT_FALSE(notifier.OnEvent(EV_TRANSMIT_SUCCEEDED, 1));
    EXPECT_FALSE(notifier.TransfersDueAt());
    EXPECT_FALSE(notifier.OnEvent(EV_TRANSMIT_FAILED, 1));
    clock.now += 2h;
    std::optional<ProblemNotice> notice = notifier.CheckTransfers();
    ASSERT_TRUE(notice);
    EXPECT_NE(notice->Text.find("more than 2 hours"), std::string::npos) << notice->Text;

    // Two quick ends, a client that worked, two more: not yet the three in a row.
    for (EEngineEvent event : {EV_CLIENT_ENDED_AT_ONCE, EV_CLIENT_ENDED_AT_ONCE, EV_CLIENT_RAN,
                               EV_CLIENT_ENDED_AT_ONCE, EV_CLIENT_ENDED_AT_ONCE})
        EXPECT_FALSE(notifier.OnEvent(event, 1));
    EXPECT_TRUE(notifier.OnEvent(EV_CLIENT_ENDED_AT_ONCE, 1));
}

// A row given up on is said on standard error whether or not notices are on, and as a notice of its
// own kind, not hidden behind the write failures that came before it.
TEST(ProblemNotices, ALostLogRowIsAlwaysSaidOnStandardErrorAndNoticedOfItsOwnKind) {
    COptions options;
    std::vector<ProblemNotice> shown;
    CEnginePump pump;
    CProblemNotices notices(
        options, Timings{}, [&](const ProblemNotice& notice) { shown.push_back(notice); }, pump);
    testing::internal::CaptureStderr();
    std::thread engine([&notices] { notices.OnEngineEvent(EV_LOG_ROW_LOST, 4); });
    engine.join();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("instance 4 was sent without its row: the row is lost."), std::string::npos) << said;
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown.empty()) << "notices are off";
    EXPECT_TRUE(StandardErrorLine(EV_LOG_WRITE_FAILED, 4).empty()) << "a held row is said by the window";

    options.NotifyProblems = true;
    ManualClock clock;
    CProblemNotifier notifier(options, Timings{}, clock.Get());
    EXPECT_TRUE(notifier.OnEvent(EV_LOG_WRITE_FAILED, 4));
    std::optional<ProblemNotice> lost = notifier.OnEvent(EV_LOG_ROW_LOST, 4);
    ASSERT_TRUE(lost);
    EXPECT_EQ(lost->Kind, EProblem::LogRowLost);
    EXPECT_NE(lost->Text.find("ORVALog.csv"), std::string::npos) << lost->Text;
    EXPECT_FALSE(notifier.OnEvent(EV_LOG_ROW_LOST, 3)) << "once an hour, like the others";
}

TEST(ProblemNotices, EventsFromEngineThreadsAreShownOnTheDialogsThreadAndTransfersByTimer) {
    COptions options;
    options.NotifyProblems = true;
    // Transfers count as failing for 21.6 ms here, with notices a kind 3.6 ms apart at least.
    const Timings timings = Timings{}.Scaled(0.000001);
    std::vector<ProblemNotice> shown;
    std::vector<QThread*> threads;
    CEnginePump pump;
    CProblemNotices notices(
        options, timings,
        [&](const ProblemNotice& notice) {
            shown.push_back(notice);
            threads.push_back(QThread::currentThread());
        },
        pump);
    IEngineEvents& events = notices;
    std::thread engine([&events] {
        events.OnEngineEvent(EV_LOG_WRITE_FAILED, 7);
        events.OnEngineEvent(EV_TRANSMIT_FAILED, 7);
    });
    engine.join();
    EXPECT_TRUE(shown.empty()) << "shown only once the dialog's thread takes the events";
    // The failing transfer needs no further event: the notices wake up when it is due.
    ASSERT_TRUE(WaitUntil([&] { return shown.size() == 2; }));
    EXPECT_EQ(shown[0].Kind, EProblem::WriteFailed);
    EXPECT_EQ(shown[1].Kind, EProblem::TransfersFailing);
    for (QThread* thread : threads)
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
}

} // namespace
} // namespace vantrel
