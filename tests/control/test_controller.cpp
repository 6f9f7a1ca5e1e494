#include "control/trayrules.h"
#include "control/vantrelcontroller.h"
#include "control_fixture.h"
#include "core/configuration.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/system.h"
#include "support/buildpaths.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

// A processing run that lasts for the whole test.
constexpr const char* kSlow = "ORVA_SIM_PROCESS_SECONDS=600\n";
// A transfer that lasts until the pass is stopped.
constexpr const char* kSlowTransfer = "ORVA_SIM_TRANSFER_SECONDS=600\n";

bool HasMarker(const ControlScene& scene, unsigned n) {
    return platform::PathExists(scene.program.Instance(n) + "/stop_after_send.txt");
}

bool UseColonEnabled(const ServerControlStates& states) {
    return states[SRV_USE_COLON];
}

std::string ClientPid(const ControlScene& scene, unsigned n) {
    return platform::ReadFileText(scene.program.Instance(n) + "/pid.orv").value_or("");
}

// How many processors the client (its main thread) may run on; 0 when that cannot be read.
int Processors(platform::ProcessId pid) {
    return static_cast<int>(platform::GetProcessorsOf(pid).size());
}

TEST(Controller, TheNumberFieldsRetireOrRestoreInstancesAndResizeTheSlots) {
    ControlScene scene({"-CPU", "3"});
    for (unsigned n = 1; n <= 5; ++n)
        scene.WorkUnit(n, kSlow);
    ASSERT_FALSE(scene.Start());
    CVantrelController& controller = scene.Controller();
    CFakeView& view = *scene.view;
    CRunningSlots& slots = scene.session->RunningSlots();
    ASSERT_TRUE(scene.PumpUntil([&] { return controller.Counters().ProcessingCount == 3; }));

    // Enter: the desired size is applied before the process count, each under the wait cursor.
    view.Forget();
    view.typedDesiredCacheSize = 3;
    controller.OnEnter();
    EXPECT_FALSE(HasMarker(scene, 3));
    EXPECT_TRUE(HasMarker(scene, 4));
    EXPECT_TRUE(HasMarker(scene, 5));
    EXPECT_EQ(controller.Counters().CurrentCacheSize, 5u);
    EXPECT_EQ(controller.Counters().NeedToFill, 0u);
    EXPECT_EQ(view.shownDesiredCacheSize, 3u);
    EXPECT_EQ(view.Calls().front(), "WaitCursorOn");
    EXPECT_EQ(view.Calls().back(), "WaitCursorOff");
    EXPECT_EQ(view.Count("WaitCursorOn"), 2);
    EXPECT_EQ(view.Count("ReadFields"), 2);

    view.typedDesiredCacheSize = 5;
    controller.ApplyDesiredCacheSize();
    EXPECT_FALSE(HasMarker(scene, 4));
    EXPECT_FALSE(HasMarker(scene, 5));
    EXPECT_EQ(view.shownDesiredCacheSize, 5u);

    // Fewer processes: the clients of the slots taken away are stopped, the first one runs on.
    const std::uint32_t kept = slots.Get(0);
    const std::uint32_t gone1 = slots.Get(1);
    const std::uint32_t gone2 = slots.Get(2);
    // A slot is claimed before its client has started and locked its instance: each is seen
    // working first, so what ends below was ended.
    ASSERT_TRUE(scene.PumpUntil([&] { return scene.Busy(kept) && scene.Busy(gone1) && scene.Busy(gone2); }));
    view.typedMaxProcesses = 1;
    controller.ApplyMaxProcesses();
    EXPECT_EQ(slots.Size(), 1u);
    EXPECT_EQ(view.shownMaxProcesses, 1u);
    EXPECT_TRUE(scene.PumpUntil([&] { return !scene.Busy(gone1) && !scene.Busy(gone2); }));
    EXPECT_TRUE(scene.Busy(kept));
    EXPECT_EQ(controller.Counters().ProcessingCount, 1u);

    // 0 is taken: nothing is processed.
    view.typedMaxProcesses = 0;
    controller.ApplyMaxProcesses();
    EXPECT_TRUE(scene.PumpUntil([&] { return !scene.Busy(kept); }));
    EXPECT_EQ(controller.Counters().ProcessingCount, 0u);
    EXPECT_EQ(controller.Counters().WaitingToProcess, 5u);
}

TEST(Controller, EachOptionHandlerSetsItsOptionAndCallsTheEngine) {
    ControlScene scene({"-CPU", "1"});
    scene.WorkUnit(1, kSlow);
    ASSERT_FALSE(scene.Start());
    CVantrelController& c = scene.Controller();
    COptions& o = scene.Options();
    CFakeView& view = *scene.view;
    ASSERT_TRUE(scene.PumpUntil([&] { return c.Status().WatchedInstance == 1 && !ClientPid(scene, 1).empty(); }));

    c.OnHideProcessing(false);
    EXPECT_EQ(o.ClientShowMode.load(), platform::SW_MINIMIZE);
    c.OnHideProcessing(true);
    EXPECT_EQ(o.ClientShowMode.load(), platform::SW_HIDE);
    EXPECT_TRUE(o.HideProcessing);

    // The server handlers read the fields first: the port typed decides whether Use Colon is free.
    view.typedPort = 8080;
    c.OnServerMode(SM_PROXY);
    EXPECT_EQ(o.ServerMode.load(), SM_PROXY);
    EXPECT_FALSE(UseColonEnabled(view.serverStates));
    view.typedPort = 0;
    c.OnPortChanged();
    EXPECT_FALSE(o.UseColon);
    EXPECT_TRUE(UseColonEnabled(view.serverStates));
    view.typedPort = 81;
    c.OnPortChanged();
    EXPECT_TRUE(o.UseColon);

    // Set Processor Affinity binds the running client to one of the program's processors.
    const std::string pidText = ClientPid(scene, 1);
    const auto client = static_cast<platform::ProcessId>(std::stol(pidText.substr(pidText.find('=') + 1)));
    const int own = static_cast<int>(platform::GetOwnProcessors().size());
    c.OnSetAffinity(true);
    EXPECT_EQ(Processors(client), own >= 2 ? 1 : own);
    c.OnSetAffinity(false);
    EXPECT_EQ(Processors(client), own);
    c.OnSetAffinity(true);

    c.OnDisplayTransmit(true);
    c.OnUseColon(false);
    c.OnCreateLog(true);
    c.OnClientPriority(CP_NORMAL);
    c.OnNotifyProblems(true);
    EXPECT_TRUE(o.DisplayTransmit && !o.UseColon && o.CreateLog && o.LogEnabled && o.SetAffinity && o.NotifyProblems);
    EXPECT_EQ(o.ClientPriority.load(), CP_NORMAL);

    // Auto Transmit with nothing to send or fill takes the fields but starts no pass.
    view.Forget();
    c.OnAutoTransmit(true);
    EXPECT_TRUE(o.AutoTransmit);
    EXPECT_EQ(view.Count("ReadFieldsQuietly"), 1);
    EXPECT_TRUE(view.TransmitStates().empty());

    // Progress: the watcher starts and its first message shows the figures and the percentage.
    view.Forget();
    c.OnMonitorProgress(true);
    EXPECT_TRUE(c.Watcher().IsRunning());
    ASSERT_TRUE(scene.PumpUntil([&] { return view.Count("ShowProgress") > 0; }));
    EXPECT_EQ(view.tip.rfind("Vantrel - Current WU ", 0), 0u) << view.tip;
    const int shown = view.Count("ShowProgress");
    c.On24HourClock(true);
    c.OnUpdateProgressNow();
    EXPECT_EQ(view.Count("ShowProgress"), shown + 2);
    // The spy copies keep the watcher when monitoring goes off, and arrive with each change.
    c.OnUseSpy(true);
    c.OnMonitorProgress(false);
    EXPECT_TRUE(c.Watcher().IsRunning());
    EXPECT_TRUE(scene.PumpUntil([&] { return platform::PathExists(scene.program.dir / "outfile.orv"); }));
    c.On24HourClock(false);
    scene.scheduler.Post(WM_APP_4);
    scene.scheduler.RunPending();
    EXPECT_EQ(view.Count("ShowProgress"), shown + 2);
    c.OnUseSpy(false);
    EXPECT_TRUE(scene.PumpUntil([&] { return !c.Watcher().IsRunning(); }));

    // Save reads the fields first; a file that cannot be written is reported.
    const unsigned processes = ProcessorCount() + 1;
    view.typedMaxProcesses = processes;
    view.minimized = true;
    EXPECT_TRUE(c.OnSaveConfig());
    const std::string saved = ReadFile(scene.program.dir / "vantrel.cfg");
    EXPECT_NE(saved.find("-min\r\n-auto\r\n-DisplayTransmit\r\n-cpu " + std::to_string(processes) + "\r\n"),
              std::string::npos)
        << saved;
    platform::DeleteFile(scene.program.dir / "vantrel.cfg");
    MakeDirs(scene.program.dir / "vantrel.cfg");
    EXPECT_FALSE(c.OnSaveConfig());
    ASSERT_EQ(scene.notices.size(), 1u);
    EXPECT_EQ(scene.notices[0].Kind, EProblem::WriteFailed);

    // New Client: a cancelled choice changes nothing; a chosen one replaces the client, and the
    // slots come back with a fresh client.
    const std::string pid = ClientPid(scene, 1);
    c.NewClient("");
    EXPECT_EQ(scene.Store().GetClientPath(), scene.program.client);
    TempDir downloads;
    ASSERT_TRUE(platform::CopyFile(test::build::kOrvaSim, downloads / "ORVA_new.exe", false));
    c.NewClient(downloads / "ORVA_new.exe");
    EXPECT_EQ(scene.Store().GetClientPath(), scene.program.dir / "ORVA_new.exe");
    EXPECT_FALSE(platform::PathExists(scene.program.client));
    EXPECT_EQ(scene.session->RunningSlots().Size(), 1u);
    EXPECT_TRUE(scene.PumpUntil([&] { return scene.Busy(1) && ClientPid(scene, 1) != pid; }));
}

TEST(Controller, EngineMessagesRestartRecountAndApplyWhatThePassKeptWaiting) {
    ControlScene scene({"-CPU", "1"});
    scene.program.MakeInstance(1, kSlowTransfer);
    ASSERT_FALSE(scene.Start());
    CVantrelController& c = scene.Controller();
    CFakeView& view = *scene.view;

    // Transmit takes the server fields as they stand; its first message shows it transmitting.
    view.typedPort = 3128;
    c.OnTransmit();
    EXPECT_EQ(scene.Options().ServerPort, 3128u);
    ASSERT_TRUE(scene.PumpUntil([&] { return !view.icons.empty() && view.icons.back() == kIconTransmitting; }));
    EXPECT_EQ(view.TransmitStates(), std::vector<bool>{true});
    EXPECT_STREQ(c.TransmitCaption(), kStopTransmitCaption);

    // A desired size typed during the pass is left in its field until the pass has ended.
    view.typedDesiredCacheSize = 2;
    c.ApplyDesiredCacheSize();
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(2)));
    ASSERT_TRUE(view.typedDesiredCacheSize);

    // Stop Transmit ends the client at once; the end of the pass applies the size.
    c.OnTransmit();
    ASSERT_TRUE(scene.PumpUntilPassesEnded(1));
    EXPECT_EQ(view.TransmitStates(), (std::vector<bool>{true, false}));
    EXPECT_TRUE(platform::IsDirectory(scene.program.Instance(2)));
    EXPECT_EQ(view.shownDesiredCacheSize, 2u);
    EXPECT_EQ(c.Counters().CurrentCacheSize, 2u);
    EXPECT_NE(view.icons.back(), kIconTransmitting);

    // A client's end (WM_APP) restarts processing: new work is taken up and counted.
    WriteFile(scene.program.Instance(2) + "/orva_sim_knobs.txt", kSlow);
    WriteFile(scene.program.Instance(2) + "/work_unit.orv", "name=wu2\n");
    view.Forget();
    scene.scheduler.Post(WM_APP);
    ASSERT_TRUE(scene.PumpUntil([&] { return scene.Busy(2) && c.Counters().ProcessingCount == 1; }));
    EXPECT_GE(view.Count("ShowFields"), 1);
    EXPECT_GE(view.Count("SetIcon"), 1);
}

TEST(Controller, TheTrayIconAndTipFollowTheCountersAndThePass) {
    ControlScene scene({"-CPU", "1"});
    scene.WorkUnit(1, kSlow);
    scene.WorkUnit(2, kSlow);
    scene.Result(3);
    scene.program.MakeInstance(4);
    ASSERT_FALSE(scene.Start());
    CVantrelController& c = scene.Controller();
    CFakeView& view = *scene.view;
    ASSERT_TRUE(scene.PumpUntil([&] { return c.Counters().ProcessingCount == 1; }));
    EXPECT_EQ(c.Counters().WaitingToProcess, 1u);
    EXPECT_EQ(c.Counters().ReadyToTransmit, 1u);
    EXPECT_EQ(c.Counters().NeedToFill, 2u);
    EXPECT_EQ(view.icons.back(), kIconWorkPending);
    EXPECT_EQ(view.tip, "Vantrel\n1 to Return; 2 to Fill");

    // Every instance holds work: nothing waits to be sent or fetched.
    platform::DeleteFile(scene.program.Instance(3) + "/result.orv");
    scene.WorkUnit(3);
    scene.WorkUnit(4);
    scene.scheduler.Post(WM_APP);
    scene.scheduler.RunPending();
    EXPECT_EQ(view.icons.back(), kIconWorkHeld);
    EXPECT_EQ(view.tip, "Vantrel");

    // No work unit anywhere.
    view.typedMaxProcesses = 0;
    c.ApplyMaxProcesses();
    ASSERT_TRUE(scene.PumpUntil([&] { return !scene.Busy(1) && !scene.Busy(2); }));
    for (unsigned n = 1; n <= 4; ++n) {
        platform::DeleteFile(scene.program.Instance(n) + "/work_unit.orv");
        scene.Result(n);
    }
    WriteFile(scene.program.Instance(4) + "/orva_sim_knobs.txt", kSlowTransfer);
    scene.scheduler.Post(WM_APP);
    scene.scheduler.RunPending();
    EXPECT_EQ(view.icons.back(), kIconNoWorkUnit);
    EXPECT_EQ(view.tip, "Vantrel\n4 to Return; 4 to Fill");

    // Transmitting wins while the pass runs. Meeting a result arms the retry timer for the
    // whole interval (again after a message's check disarmed it); the pass that failed to send
    // leaves the shorter retry armed.
    c.OnTransmit();
    ASSERT_TRUE(scene.PumpUntil([&] { return view.icons.back() == kIconTransmitting; }));
    ASSERT_TRUE(scene.PumpUntil([&] { return !scene.scheduler.Arms().empty(); }));
    c.OnTransmit();
    ASSERT_TRUE(scene.PumpUntilPassesEnded(1));
    EXPECT_EQ(view.icons.back(), kIconNoWorkUnit);
    std::vector<std::chrono::milliseconds> arms = scene.scheduler.Arms();
    EXPECT_EQ(arms.back(), 1min);
    arms.pop_back();
    EXPECT_FALSE(arms.empty());
    EXPECT_EQ(std::count(arms.begin(), arms.end(), 3min), static_cast<long>(arms.size()));
    EXPECT_TRUE(scene.scheduler.RetryTimerRemaining());
    EXPECT_EQ(c.Transmitter().LastPass().Outcome, EPassOutcome::Failed);
}

TEST(Controller, ExitIsRefusedWhileAFieldIsInvalidAndThenEndsTheDialogAndTheTimer) {
    ControlScene scene({"-CPU", "1"});
    scene.WorkUnit(1, kSlow);
    scene.Result(2);
    scene.ServerSwitch("unreachable", true);
    ASSERT_FALSE(scene.Start());
    CVantrelController& c = scene.Controller();
    CFakeView& view = *scene.view;
    ASSERT_TRUE(scene.PumpUntil([&] { return scene.Busy(1); }));
    c.OnTransmit();
    ASSERT_TRUE(scene.PumpUntilPassesEnded(1));
    ASSERT_TRUE(scene.scheduler.RetryTimerRemaining());

    view.Forget();
    view.refuses = true;
    EXPECT_FALSE(c.Exit());
    c.OnRegisteredMessage(kExitRequest);
    EXPECT_FALSE(c.HasEnded());
    EXPECT_EQ(view.Count("ReadFields"), 2);
    EXPECT_EQ(view.Count("EndDialog"), 0);
    EXPECT_FALSE(scene.scheduler.Ended());
    EXPECT_TRUE(scene.scheduler.RetryTimerRemaining());
    EXPECT_TRUE(scene.Busy(1));

    // Another request is no exit; once the field takes its text, the exit goes through.
    view.refuses = false;
    c.OnRegisteredMessage(kExitRequest + 1);
    EXPECT_EQ(view.Count("ReadFields"), 2);
    c.OnRegisteredMessage(kExitRequest);
    EXPECT_TRUE(c.HasEnded());
    EXPECT_EQ(view.Count("EndDialog"), 1);
    EXPECT_TRUE(scene.scheduler.Ended());
    EXPECT_FALSE(scene.scheduler.RetryTimerRemaining());
    // Processing clients end with the application, after the dialog.
    EXPECT_TRUE(scene.Busy(1));
    scene.session->Shutdown();
    EXPECT_TRUE(scene.PumpUntil([&] { return !scene.Busy(1); }));
}

TEST(Controller, TheRetryTimerBacksOffWhileTransfersFailAndIsDisarmedOnceOneSucceeds) {
    ControlScene scene({"-AUTO", "-CPU", "1"});
    scene.Result(1);
    WriteFile(scene.program.Instance(1) + "/orva_sim_knobs.txt", kSlow);
    scene.ServerSwitch("unreachable", true);
    ASSERT_FALSE(scene.Start()); // its automatic check starts the first pass
    CVantrelController& c = scene.Controller();
    CFakeView& view = *scene.view;
    ASSERT_TRUE(scene.PumpUntilPassesEnded(1));
    EXPECT_EQ(scene.scheduler.Arms(), (std::vector<std::chrono::milliseconds>{3min, 1min}));
    const std::optional<std::chrono::milliseconds> left = scene.scheduler.RetryTimerRemaining();
    ASSERT_TRUE(left);
    EXPECT_GT(*left, 0ms);
    EXPECT_LE(*left, 1min);

    // Until the retry is due, neither a message nor the check box starts a pass or disarms it.
    scene.scheduler.Post(WM_APP);
    scene.scheduler.RunPending();
    c.OnAutoTransmit(true);
    EXPECT_EQ(view.TransmitStates().size(), 2u);
    EXPECT_TRUE(scene.scheduler.RetryTimerRemaining());

    // Each failed pass in a row doubles the wait, up to the whole interval.
    int passes = 1;
    for (auto wait : {2min, 3min, 3min}) {
        ASSERT_TRUE(scene.scheduler.FireRetryTimer());
        ASSERT_TRUE(scene.PumpUntilPassesEnded(++passes));
        EXPECT_EQ(scene.scheduler.Arms().back(), wait);
        const auto remaining = scene.scheduler.RetryTimerRemaining();
        EXPECT_TRUE(remaining && *remaining <= wait && *remaining > wait - 30s);
    }

    scene.ServerSwitch("unreachable", false);
    ASSERT_TRUE(scene.scheduler.FireRetryTimer());
    ASSERT_TRUE(scene.PumpUntilPassesEnded(++passes));
    EXPECT_EQ(c.Transmitter().LastPass().Outcome, EPassOutcome::Succeeded);
    EXPECT_FALSE(scene.scheduler.RetryTimerRemaining());
    EXPECT_EQ(c.Transmitter().RetryTimerId(), 0u);
}

} // namespace
} // namespace vantrel::test
