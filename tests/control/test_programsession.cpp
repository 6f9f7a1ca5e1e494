#include "control/headlesssession.h"
#include "control/programdirlock.h"
#include "control/vantrelcontroller.h"
#include "control_fixture.h"
#include "platform/fileops.h"

#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using EHandOver = ICopyChannel::EHandOver;

constexpr const char* kSlow = "ORVA_SIM_PROCESS_SECONDS=600\n";

TEST(ProgramSession, ACancelledClientChoiceEndsWithCode1BeforeAnyWindowOrEngine) {
    ControlScene scene;
    platform::DeleteFile(scene.program.client);
    EXPECT_EQ(scene.Start(), 1);
    EXPECT_EQ(scene.choicesAsked, 1);
    EXPECT_EQ(scene.chooserMessages, std::vector<std::string>{kNoClientSelectedMessage});
    EXPECT_EQ(scene.viewsMade, 0);
    EXPECT_EQ(scene.session->Controller(), nullptr);
    EXPECT_EQ(scene.channel.served, nullptr);
    EXPECT_TRUE(scene.session->EncodedStatus().empty());
}

TEST(ProgramSession, OneCopyPerProgramDirectoryIsDecidedBeforeTheCacheIsTouched) {
    ControlScene first({"-CPU", "1"});
    first.WorkUnit(1, kSlow);
    bool lockedWhenAsked = false;
    first.onChooserMade = [&] {
        CProgramDirLock probe;
        lockedWhenAsked = probe.Acquire(first.program.dir.Path()) == CProgramDirLock::EResult::HeldByOther;
    };
    ASSERT_FALSE(first.Start());
    EXPECT_TRUE(lockedWhenAsked);
    // The client's pid.orv tells later whether it is still the same run.
    std::string pid;
    ASSERT_TRUE(first.PumpUntil([&] {
        pid = platform::ReadFileText(first.program.Instance(1) + "/pid.orv").value_or("");
        return first.Busy(1) && !pid.empty();
    }));
    first.program.MakeInstance(3); // a gap: a start that got to the cache would close it

    // Refused beside it, or handed over to it: either way nothing of the cache is looked at.
    auto second = [&](bool handOver, EHandOver answer) {
        auto scene = std::make_unique<ControlScene>(std::vector<std::string>{}, &first.program);
        scene->handOver = handOver;
        scene->channel.answer = [answer] { return answer; };
        scene->onChooserMade = [] { ADD_FAILURE() << "a second copy got to the cache"; };
        const std::optional<int> code = scene->Start();
        EXPECT_EQ(scene->viewsMade, 0);
        EXPECT_EQ(scene->channel.asked.size(), handOver ? 1u : 0u);
        return code;
    };
    EXPECT_EQ(second(false, EHandOver::Shown), 1);
    EXPECT_EQ(second(true, EHandOver::Shown), 0);
    EXPECT_EQ(second(true, EHandOver::NoWindow), 1);
    EXPECT_TRUE(first.Busy(1));
    EXPECT_EQ(platform::ReadFileText(first.program.Instance(1) + "/pid.orv").value_or(""), pid);
    EXPECT_TRUE(platform::IsDirectory(first.program.Instance(3)));
    EXPECT_FALSE(platform::PathExists(first.program.Instance(2)));

    // A copy that ends while asked lets go of the directory, and this start goes on there.
    ControlScene next({"-CPU", "1"}, &first.program);
    next.withView = false;
    next.channel.answer = [&] {
        first.session.reset();
        return EHandOver::NoAnswer;
    };
    ASSERT_FALSE(next.Start());
    EXPECT_EQ(next.channel.asked.size(), 1u);
    EXPECT_FALSE(next.session->ShowWindow());
    EXPECT_TRUE(next.session->AcceptsExitRequest());
    EXPECT_TRUE(next.PumpUntil([&] { return next.Busy(1); }));
}

TEST(ProgramSession, ServesTheOtherCopiesAndEndsOnAStopRequestAsExitDoes) {
    ControlScene scene({"-CPU", "1"});
    scene.WorkUnit(1, kSlow);
    scene.Result(2);
    scene.ServerSwitch("unreachable", true);
    ASSERT_FALSE(scene.Start());
    CProgramSession& session = *scene.session;
    CFakeView& view = *scene.view;
    const std::string dir = scene.program.dir.Path();
    EXPECT_EQ(scene.channel.served, &session);
    EXPECT_EQ(scene.channel.greeted, std::vector<std::string>{dir});
    ASSERT_TRUE(scene.stops.onStop);

    session.OtherCopyStarted();
    EXPECT_EQ(view.shownDirectory, dir);
    view.sysCommands.clear();
    EXPECT_TRUE(session.ShowWindow());
    EXPECT_EQ(view.sysCommands, std::vector<unsigned>{SC_RESTORE});

    // The status carries the retry timer's time left, as the front end's clock counts it.
    scene.Controller().OnTransmit();
    ASSERT_TRUE(scene.PumpUntilPassesEnded(1));
    const auto left = scene.scheduler.RetryTimerRemaining();
    ASSERT_TRUE(left);
    scene.scheduler.Advance(*left - 1500ms);
    std::optional<StatusReport> status = DecodeStatus(session.EncodedStatus());
    ASSERT_TRUE(status);
    EXPECT_EQ(status->ProgramDir, dir);
    EXPECT_TRUE(status->RetryTimerArmed);
    EXPECT_EQ(status->RetryDueInSeconds, 2);
    EXPECT_EQ(status->Counters.ReadyToTransmit, 1u);

    // A field left invalid keeps an exit request out; a stop request ends the program anyway.
    view.refuses = true;
    EXPECT_FALSE(session.AcceptsExitRequest());
    scene.stops.onStop();
    EXPECT_TRUE(session.HasEnded());
    EXPECT_EQ(view.Count("EndDialog"), 1);
    EXPECT_TRUE(scene.scheduler.Ended());
    EXPECT_TRUE(session.AcceptsExitRequest());
    status = DecodeStatus(session.EncodedStatus());
    ASSERT_TRUE(status);
    EXPECT_FALSE(status->RetryTimerArmed);
    EXPECT_EQ(status->RetryDueInSeconds, 0);

    // Shutdown stops both listeners and every client; nothing reaches the controller after it.
    session.Shutdown();
    EXPECT_EQ(scene.channel.stopped, 1);
    EXPECT_EQ(scene.stops.stopped, 1);
    EXPECT_TRUE(scene.PumpUntil([&] { return !scene.Busy(1); }));
    const int delivered = scene.scheduler.Delivered(WM_APP);
    scene.scheduler.Post(WM_APP);
    scene.scheduler.RunPending();
    EXPECT_EQ(scene.scheduler.Delivered(WM_APP), delivered);
    session.Shutdown();
    EXPECT_EQ(scene.channel.stopped, 1);
}

// The headless program's notices go to standard error, one line each; a lost row, which is said
// there at once also with notices off, is not said twice.
TEST(ProgramSession, TheHeadlessNoticesAreOneLineEachOnStandardError) {
    CHandScheduler scheduler;
    CFakeChannel channel;
    CFakeStopRequests stops;
    ProgramFrontEnd frontEnd = MakeHeadlessFrontEnd(scheduler, channel, stops);
    ASSERT_TRUE(frontEnd.presentNotice);
    testing::internal::CaptureStderr();
    frontEnd.presentNotice({EProblem::LogRowLost, "Vantrel", "the row is lost."});
    frontEnd.presentNotice({EProblem::WriteFailed, "Vantrel", "The configuration could not be saved."});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "vantrel: Vantrel: The configuration could not be saved.\n");
}

} // namespace
} // namespace vantrel::test
