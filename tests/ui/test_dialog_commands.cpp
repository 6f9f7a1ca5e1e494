// The main dialog's commands and the engine's calls from other threads: the Transmit caption and
// menu item, posted messages, the retry timer, the tray menu's commands and New Client.
#include "engine/messagetarget.h"
#include "test_dialog_support.h"
#include "ui/aboutdlg.h"
#include "control/trayrules.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

namespace vantrel {
namespace {

using test::DialogScene;
using test::WaitUntil;

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

QAction* TransmitMenuItem(const CVantrelDlg& dialog) {
    for (QAction* action : dialog.WindowMenu()->actions())
        if (action->property(kCommandIdProperty).toUInt() == kTransmitCommand)
            return action;
    return nullptr;
}

bool ShowsIcon(const QWidget& window, unsigned iconId) {
    return window.windowIcon().pixmap(32).toImage() == LoadVantrelIcon(iconId).pixmap(32).toImage();
}

TEST(DialogCommands, TransmitCaptionAndMenuItemFollowThePass) {
    DialogScene scene({"-cpu", "1"});
    // A slow download in instance 1, so the pass is seen running and can be stopped.
    scene.program.MakeInstance(1, "ORVA_SIM_TRANSFER_SECONDS=60\n");
    scene.Init();
    QAbstractButton* transmit = scene.Button(1008);
    QAction* menuItem = TransmitMenuItem(*scene.dialog);
    ASSERT_NE(menuItem, nullptr);
    EXPECT_EQ(transmit->text(), Text("Transmit"));
    EXPECT_TRUE(menuItem->isEnabled());
    EXPECT_TRUE(ShowsIcon(*scene.dialog, kIconNoWorkUnit));

    transmit->click();
    ASSERT_TRUE(WaitUntil([&] { return transmit->text() == Text("Stop Transmit"); }));
    EXPECT_FALSE(menuItem->isEnabled()) << "greyed while a pass runs";
    EXPECT_TRUE(scene.controller->TransmitRunning());
    EXPECT_TRUE(WaitUntil([&] { return ShowsIcon(*scene.dialog, kIconTransmitting); }));

    // The same button stops the pass: its client is ended, nothing was fetched.
    transmit->click();
    ASSERT_TRUE(WaitUntil([&] { return transmit->text() == Text("Transmit"); }));
    EXPECT_TRUE(menuItem->isEnabled());
    EXPECT_FALSE(scene.controller->TransmitRunning());
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(1) + "/work_unit.orv"));
    EXPECT_TRUE(WaitUntil([&] { return ShowsIcon(*scene.dialog, kIconNoWorkUnit); }));

    // The menu item starts a pass as the button does.
    test::WriteFile(scene.program.Instance(1) + "/orva_sim_knobs.txt", "ORVA_SIM_TRANSFER_SECONDS=0.2\n");
    menuItem->trigger();
    ASSERT_TRUE(WaitUntil([&] { return platform::PathExists(scene.program.Instance(1) + "/work_unit.orv"); }));
    ASSERT_TRUE(WaitUntil([&] { return transmit->text() == Text("Transmit") && menuItem->isEnabled(); }));
}

TEST(DialogCommands, AnAutomaticPassTakesWhatTheDialogShows) {
    DialogScene scene({"-cpu", "1"});
    scene.program.MakeInstance(1, "ORVA_SIM_TRANSFER_SECONDS=0.05\n");
    scene.Init();
    scene.Button(1014)->click(); // Proxy Server
    scene.Type(1019, Text("8080"));
    scene.Type(1018, Text("typed.example"));
    // Neither applied nor saved: the pass started by the Auto Transmit box still uses them.
    scene.Button(1031)->click();
    const std::string runs = scene.program.dir / "orva-server/runs.log";
    ASSERT_TRUE(WaitUntil([&] { return test::ReadFile(runs).find("run=transmit") != std::string::npos; }));
    EXPECT_NE(test::ReadFile(runs).find("-proxy typed.example:8080"), std::string::npos) << test::ReadFile(runs);
}

TEST(DialogCommands, EngineMessagesFromAnotherThreadReachTheLogic) {
    DialogScene scene;
    scene.Init();
    // The cache always keeps instance 1; with a desired size of 0 it is marked for retirement.
    ASSERT_EQ(scene.Label(1001)->text(), Text("1"));
    ASSERT_EQ(scene.Edit(1000)->text(), Text("0"));
    scene.program.MakeInstance(2);
    scene.program.MakeInstance(3);

    std::thread worker([&] { scene.pump.Post(WM_APP); });
    worker.join();
    ASSERT_TRUE(WaitUntil([&] { return scene.Label(1001)->text() == Text("3"); }));
    EXPECT_EQ(scene.Label(1032)->text(), Text("2"));
    EXPECT_EQ(scene.Edit(1000)->text(), Text("2"));

    // Transmit state reported from a worker is shown once it arrives on the dialog's thread.
    std::thread reporter([&] { static_cast<IDialogView&>(*scene.dialog).TransmitStateChanged(false); });
    reporter.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(scene.Button(1008)->text(), Text("Transmit"));
}

TEST(DialogCommands, ARetryTimerDisarmWinsOverAnEarlierArmStillOnItsWay) {
    DialogScene scene;
    scene.Init();
    const QTimer& timer = scene.pump.RetryTimer();
    const std::chrono::milliseconds hour{3'600'000};

    std::thread([&] { scene.pump.ArmRetryTimer(hour); }).join();
    std::thread([&] { scene.pump.KillRetryTimer(); }).join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(timer.isActive());

    std::thread([&] { scene.pump.KillRetryTimer(); }).join();
    std::thread([&] { scene.pump.ArmRetryTimer(hour); }).join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.intervalAsDuration(), hour);

    // Disarmed on the dialog's thread while a worker's arm is still queued: the arm is dropped.
    scene.pump.KillRetryTimer();
    std::thread([&] { scene.pump.ArmRetryTimer(hour); }).join();
    scene.pump.KillRetryTimer();
    QCoreApplication::processEvents();
    EXPECT_FALSE(timer.isActive());

    // Exit stops it for good.
    std::thread([&] { scene.pump.ArmRetryTimer(hour); }).join();
    QCoreApplication::processEvents();
    ASSERT_TRUE(timer.isActive());
    ASSERT_TRUE(scene.controller->Exit());
    EXPECT_FALSE(timer.isActive());
    std::thread([&] { scene.pump.ArmRetryTimer(hour); }).join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(timer.isActive());
}

TEST(DialogCommands, TrayMenuCommands) {
    DialogScene scene;
    scene.Init();

    scene.Button(1031)->click(); // Auto Transmit, with nothing to send or fill
    scene.dialog->OnTrayCommand(ID_SYSTRAY_SAVECONFIG);
    EXPECT_NE(test::ReadFile(scene.program.dir / "vantrel.cfg").find("-auto"), std::string::npos);

    // About: the box is shown modally; closed here as soon as it is up.
    bool aboutShown = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            aboutShown = true;
            about->reject();
        }
    });
    closer.start(0);
    scene.dialog->OnTrayCommand(ID_SYSTRAY_ABOUT);
    ASSERT_TRUE(WaitUntil([&] { return aboutShown; }));
    closer.stop();
    EXPECT_FALSE(scene.dialog->HasEnded());

    // Exit ends the dialog: finished once, hidden, nothing more posted to it is handled.
    QSignalSpy finished(scene.dialog.get(), &QDialog::finished);
    scene.dialog->OnTrayCommand(ID_SYSTRAY_EXIT);
    EXPECT_TRUE(scene.dialog->HasEnded());
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(scene.dialog->isVisible());
    scene.dialog->OnTrayCommand(ID_SYSTRAY_RESTORE);
    QCoreApplication::processEvents();
    EXPECT_FALSE(scene.dialog->isVisible());
}

TEST(DialogCommands, NewClient) {
    DialogScene scene;
    scene.Init();
    const std::string installed = scene.store.GetClientPath();

    // The program itself is refused and asked for again; cancelling then changes nothing.
    scene.prompts.fileAnswers = {QString::fromStdString(scene.program.exe), QString()};
    scene.Button(1028)->click();
    ASSERT_EQ(scene.prompts.questions.size(), 2u);
    EXPECT_EQ(scene.prompts.questions[0].title, Text("Vantrel - Select New CLI Client"));
    EXPECT_EQ(scene.prompts.questions[0].directory, QString::fromStdString(scene.program.dir.Path()));
    EXPECT_EQ(scene.prompts.questions[0].filter, Text("ORVA CLI (ORVA*.exe);;All Files (*)"));
    ASSERT_EQ(scene.prompts.messages.size(), 1u);
    EXPECT_EQ(scene.prompts.messages[0].text,
              Text("You Selected the Vantrel program - you must select a ORVA Command Line client; reselect!"));
    EXPECT_EQ(scene.store.GetClientPath(), installed);
    EXPECT_TRUE(platform::PathExists(installed));

    // A client from elsewhere is copied into the program directory and replaces ours.
    test::TempDir elsewhere;
    const std::string offered = elsewhere / "ORVA_new_cmdline.exe";
    ASSERT_TRUE(platform::CopyFile(installed, offered, false));
    scene.prompts.fileAnswers = {QString::fromStdString(offered)};
    scene.Button(1028)->click();
    EXPECT_EQ(scene.store.GetClientPath(), scene.program.dir / "ORVA_new_cmdline.exe");
    EXPECT_TRUE(platform::PathExists(scene.program.dir / "ORVA_new_cmdline.exe"));
    EXPECT_FALSE(platform::PathExists(installed));
    EXPECT_TRUE(platform::PathExists(offered));
}

// A log that refuses rows is shown in the window and the tip while it lasts; a result held too
// long for its row is sent without it, and the window and the status count the row lost.
TEST(DialogCommands, ALogThatCannotBeWrittenIsShownAndALostRowCounted) {
    DialogScene scene({"-cpu", "1", "-orvalog"}, true);
    test::MakeDirs(scene.program.dir / "ORVALog.csv"); // the log's name is taken: no row can be added
    scene.program.MakeInstance(1, "ORVA_SIM_TRANSFER_SECONDS=0.05\nORVA_SIM_PROCESS_SECONDS=60\n");
    const std::string result = scene.program.Instance(1) + "/result.orv";
    test::WriteFile(result, "wu_number=5\nname=wu5\n");
    scene.Init();
    QLabel* notice = scene.dialog->NoticeLine();
    ASSERT_NE(scene.tray.TrayIcon(), nullptr);
    auto tip = [&] { return scene.tray.TrayIcon()->toolTip().toStdString(); };
    EXPECT_FALSE(notice->isVisible());

    scene.Button(1008)->click();
    ASSERT_TRUE(WaitUntil([&] { return notice->text().contains(Text("ORVALog.csv cannot be written")); }))
        << notice->text().toStdString();
    EXPECT_TRUE(notice->isVisible());
    EXPECT_NE(tip().find("ORVALog.csv cannot be written"), std::string::npos) << tip();
    EXPECT_TRUE(scene.controller->Status().LogUnwritable);
    EXPECT_EQ(scene.controller->Status().LogRowsLost, 0u);
    EXPECT_TRUE(platform::PathExists(result)) << "held back for its row";

    // A day on, the next pass sends it without its row.
    ASSERT_TRUE(WaitUntil([&] { return !scene.controller->TransmitRunning(); }));
    for (const std::string& file : {result, scene.program.Instance(1) + "/ORVALogHeld.txt"})
        std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(25));
    scene.Button(1008)->click();
    ASSERT_TRUE(WaitUntil([&] { return notice->text().contains(Text("1 result was sent without its row")); }))
        << notice->text().toStdString();
    EXPECT_EQ(scene.controller->Status().LogRowsLost, 1u);
    EXPECT_TRUE(WaitUntil([&] { return platform::PathExists(scene.program.Instance(1) + "/work_unit.orv"); }));

    // With logging off no row is wanted: the log's state is no longer shown, the count stays.
    scene.Button(1046)->click();
    EXPECT_FALSE(scene.options.LogEnabled.load());
    EXPECT_FALSE(notice->text().contains(Text("ORVALog.csv cannot be written"))) << notice->text().toStdString();
    EXPECT_TRUE(notice->text().contains(Text("1 result was sent without its row")));
    EXPECT_EQ(tip().find("cannot be written"), std::string::npos) << tip();
    EXPECT_FALSE(scene.controller->Status().LogUnwritable);
}

} // namespace
} // namespace vantrel
