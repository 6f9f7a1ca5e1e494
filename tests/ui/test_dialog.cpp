// The main dialog over a real controller: its controls, the numeric fields, the server group and
// the way it minimises, offscreen and without sleeping.
#include "core/optiontext.h"
#include "test_dialog_support.h"
#include "ui/autostart.h"
#include "ui/percentbar.h"
#include "control/trayrules.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QRadioButton>
#include <QtTest/qtestspontaneevent.h>
#include <cstdlib>
#include <map>
#include <sys/stat.h>

namespace vantrel {
namespace {

using test::DialogScene;
using test::WaitUntil;

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

// The title-bar close as the window system delivers it.
bool CloseFromTitleBar(QWidget* window) {
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    QApplication::instance()->notify(window, &close);
    return close.isAccepted();
}

void ActivateShown(QWidget* window) {
    ASSERT_TRUE(window->isVisible());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

TEST(Dialog, EveryControlCarriesItsIdAndCaption) {
    DialogScene scene({"-cpu", "2"});
    for (unsigned n : {1u, 2u, 3u})
        scene.program.MakeInstance(n);
    scene.Init();

    struct Expected {
        const char* className;
        const char* caption; // null: no caption to compare
    };
    const std::map<int, Expected> controls = {
        {1004, {"QLineEdit", nullptr}},
        {1000, {"QLineEdit", nullptr}},
        {1001, {"QLabel", nullptr}},
        {1011, {"QLabel", nullptr}},
        {1003, {"QLabel", nullptr}},
        {1002, {"QLabel", nullptr}},
        {1032, {"QLabel", nullptr}},
        {1012, {"QCheckBox", "Hide Processing"}},
        {1031, {"QCheckBox", "Auto Transmit"}},
        {1054, {"QCheckBox", "Display Transmit"}},
        {1013, {"QRadioButton", "No Proxy/Socks"}},
        {1014, {"QRadioButton", "Proxy Server"}},
        {1015, {"QRadioButton", "Socks Server"}},
        {1016, {"QLabel", "Host:"}},
        {1017, {"QLabel", "Port:"}},
        {1018, {"QLineEdit", nullptr}},
        {1019, {"QLineEdit", nullptr}},
        {1052, {"QCheckBox", "Use Colon"}},
        {1022, {"QLabel", "Socks UserName:"}},
        {1023, {"QLabel", "Socks Password:"}},
        {1020, {"QLineEdit", nullptr}},
        {1021, {"QLineEdit", nullptr}},
        {1040, {"QCheckBox", "Use Vantrel"}},
        {1041, {"QCheckBox", "Use ORVA Spy"}},
        {1045, {"QCheckBox", "Use 24Hr Clock"}},
        {1046, {"QCheckBox", "Create ORVALog.csv"}},
        {1048, {"QRadioButton", "Low"}},
        {1049, {"QRadioButton", "High"}},
        {1050, {"QRadioButton", "Normal"}},
        {1053, {"QCheckBox", "Set Processor Affinity"}},
        {1030, {"QLabel", nullptr}},
        {1043, {"QLabel", nullptr}},
        {1044, {"QLabel", nullptr}},
        {1029, {"vantrel::CPercentBar", nullptr}},
        {1026, {"QPushButton", "Update Progress Now"}},
        {1051, {"QPushButton", "Save Config"}},
        {1008, {"QPushButton", "Transmit"}},
        {1007, {"QPushButton", "Exit"}},
        {1028, {"QPushButton", "New Client"}},
        {1055, {"QCheckBox", "Notify me of problems"}},
    };
    std::map<int, int> seen;
    for (QWidget* widget : scene.dialog->findChildren<QWidget*>()) {
        QVariant id = widget->property(kControlIdProperty);
        if (id.isValid())
            ++seen[id.toInt()];
    }
    EXPECT_EQ(seen.size(), controls.size());
    for (const auto& [id, expected] : controls) {
        SCOPED_TRACE(id);
        EXPECT_EQ(seen[id], 1) << "each id names one control";
        QWidget* control = scene.dialog->Control(id);
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(control->inherits(expected.className)) << control->metaObject()->className();
        if (expected.caption == nullptr)
            continue;
        // The caption as shown: a mnemonic's marker is not part of it.
        QString shown = qobject_cast<QAbstractButton*>(control) != nullptr
                            ? qobject_cast<QAbstractButton*>(control)->text()
                            : qobject_cast<QLabel*>(control)->text();
        EXPECT_EQ(shown.remove(QLatin1Char('&')), Text(expected.caption));
    }

    EXPECT_EQ(scene.dialog->windowTitle(), Text("Vantrel"));
    EXPECT_EQ(scene.dialog->property(kControlIdProperty).toInt(), 102);
    QStringList labels;
    for (QLabel* label : scene.dialog->findChildren<QLabel*>())
        labels << label->text().remove(QLatin1Char('&'));
    for (const char* fixed :
         {"Maximum Processes:", "Desired Cache Size:", "Current Cache Size:", "Processing:", "Waiting to Process:",
          "Need to Fill:", "Ready to Transmit:", "Est. Times:   Total:", "Left:", "Completion:"})
        EXPECT_TRUE(labels.contains(Text(fixed))) << fixed;
    QStringList groups;
    for (QGroupBox* group : scene.dialog->findChildren<QGroupBox*>())
        groups << group->title();
    EXPECT_EQ(groups,
              (QStringList{Text("Proxy/Socks Server"), Text("Progress Monitoring"), Text("ORVA Client Priority")}));

    // The window menu's items with their commands, then the desktop's "Start at login".
    QList<QAction*> items;
    for (QAction* action : scene.dialog->WindowMenu()->actions())
        if (!action->isSeparator())
            items << action;
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[3]->text(), Text("Start at login"));
    EXPECT_EQ(items[0]->text(), Text("Transmit"));
    EXPECT_EQ(items[0]->property(kCommandIdProperty).toUInt(), kTransmitCommand);
    EXPECT_EQ(items[1]->text(), Text("&About Vantrel..."));
    EXPECT_EQ(items[1]->property(kCommandIdProperty).toUInt(), kAboutCommand);
    EXPECT_EQ(items[2]->text(), Text("&Statistics..."));
    EXPECT_EQ(items[2]->property(kCommandIdProperty).toUInt(), kStatisticsCommand);

    // The fields and counters as "%u" after the initialisation: three empty instances to fill.
    EXPECT_EQ(scene.Edit(1004)->text(), Text("2"));
    EXPECT_EQ(scene.Edit(1000)->text(), Text("3"));
    EXPECT_EQ(scene.Label(1001)->text(), Text("3"));
    EXPECT_EQ(scene.Label(1011)->text(), Text("0"));
    EXPECT_EQ(scene.Label(1003)->text(), Text("0"));
    EXPECT_EQ(scene.Label(1002)->text(), Text("0"));
    EXPECT_EQ(scene.Label(1032)->text(), Text("3"));
    EXPECT_EQ(scene.Edit(1019)->text(), Text("0"));
    EXPECT_TRUE(scene.Button(1012)->isChecked());
    EXPECT_TRUE(scene.Button(1013)->isChecked());
    EXPECT_TRUE(scene.Button(1048)->isChecked());
    EXPECT_TRUE(scene.dialog->isVisible());
}

TEST(Dialog, ServerRadiosGreyTheirControlsAndThePortRulesUseColon) {
    DialogScene scene;
    scene.Init();
    auto enabled = [&](std::initializer_list<int> ids) {
        std::string states;
        for (int id : ids)
            states += scene.dialog->Control(id)->isEnabled() ? '1' : '0';
        return states;
    };
    const auto all = {1016, 1017, 1018, 1019, 1052, 1022, 1023, 1020, 1021};
    EXPECT_EQ(enabled(all), "000000000");

    scene.Button(1014)->click();
    EXPECT_EQ(scene.options.ServerMode, SM_PROXY);
    EXPECT_EQ(enabled(all), "111110000");
    scene.Button(1015)->click();
    EXPECT_EQ(enabled(all), "111111111");
    scene.Button(1013)->click();
    EXPECT_EQ(enabled(all), "000000000");
    EXPECT_EQ(scene.options.ServerMode, SM_NONE);

    // A port forces "Use Colon" on and greys it; port 0 frees it again, unchecked.
    scene.Button(1014)->click();
    scene.Type(1019, Text("8080"));
    EXPECT_EQ(scene.options.ServerPort, 8080u);
    EXPECT_TRUE(scene.Button(1052)->isChecked());
    EXPECT_FALSE(scene.Button(1052)->isEnabled());
    scene.Type(1019, Text("0"));
    EXPECT_FALSE(scene.Button(1052)->isChecked());
    EXPECT_TRUE(scene.Button(1052)->isEnabled());
    scene.Button(1052)->click();
    EXPECT_TRUE(scene.options.UseColon);
}

TEST(Dialog, EnterAppliesBothNumbersAndKeepsTheDialogOpen) {
    DialogScene scene({"-cpu", "3"});
    scene.Init();
    ActivateShown(scene.dialog.get());
    ASSERT_EQ(scene.runningSlots.Size(), 3u);

    scene.Edit(1000)->setFocus(Qt::MouseFocusReason);
    scene.Edit(1004)->setText(Text("1"));
    scene.Edit(1000)->selectAll();
    QTest::keyClicks(scene.Edit(1000), Text("2"));
    QTest::keyClick(scene.Edit(1000), Qt::Key_Return);

    EXPECT_TRUE(platform::IsDirectory(scene.program.Instance(1)));
    EXPECT_TRUE(platform::IsDirectory(scene.program.Instance(2)));
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(3)));
    EXPECT_EQ(scene.runningSlots.Size(), 1u);
    EXPECT_EQ(scene.Label(1001)->text(), Text("2"));
    EXPECT_TRUE(scene.dialog->isVisible());
    EXPECT_FALSE(scene.dialog->HasEnded());
    EXPECT_EQ(QApplication::focusWidget(), scene.Edit(1000));
    EXPECT_TRUE(scene.prompts.messages.empty());
}

TEST(Dialog, EscapeUndoesTheLastEditOfBothNumbersAndKeepsTheDialogOpen) {
    DialogScene scene({"-cpu", "2"});
    scene.program.MakeInstance(1);
    scene.Init();
    ActivateShown(scene.dialog.get());

    scene.Edit(1000)->setFocus(Qt::MouseFocusReason);
    scene.Edit(1004)->selectAll();
    QTest::keyClicks(scene.Edit(1004), Text("5"));
    scene.Edit(1000)->selectAll();
    QTest::keyClicks(scene.Edit(1000), Text("7"));
    ASSERT_EQ(scene.Edit(1004)->text(), Text("5"));
    ASSERT_EQ(scene.Edit(1000)->text(), Text("7"));

    QTest::keyClick(scene.Edit(1000), Qt::Key_Escape);
    EXPECT_EQ(scene.Edit(1004)->text(), Text("2"));
    EXPECT_EQ(scene.Edit(1000)->text(), Text("1"));
    EXPECT_TRUE(scene.dialog->isVisible());
    EXPECT_FALSE(scene.dialog->HasEnded());
    // Undone, not applied.
    EXPECT_EQ(scene.runningSlots.Size(), 2u);
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(2)));
}

TEST(Dialog, AClientThatCannotBeExecutedIsNamedAndRunsOnceItCan) {
    DialogScene scene({"-cpu", "1"});
    scene.program.MakeInstance(1, "ORVA_SIM_TRANSFER_SECONDS=0.05\nORVA_SIM_PROCESS_SECONDS=0.3\n");
    ASSERT_EQ(::chmod(scene.program.client.c_str(), 0644), 0); // just downloaded
    scene.Init();
    ActivateShown(scene.dialog.get());
    QLabel* notice = scene.dialog->NoticeLine();
    EXPECT_TRUE(notice->isVisible());
    EXPECT_TRUE(notice->text().contains(QString::fromStdString(scene.program.client))) << notice->text().toStdString();
    EXPECT_TRUE(scene.prompts.messages.empty()) << "told without a message box";

    ASSERT_EQ(::chmod(scene.program.client.c_str(), 0755), 0);
    scene.Button(1008)->click();
    EXPECT_TRUE(WaitUntil([&] { return platform::PathExists(scene.program.Instance(1) + "/result.orv"); }));
    EXPECT_TRUE(WaitUntil([&] { return !notice->isVisible(); }));
}

TEST(Dialog, AHugeDesiredCacheSizeIsClampedAndShown) {
    DialogScene scene({"-cpu", "1"});
    scene.program.MakeInstance(1);
    scene.Init();
    ActivateShown(scene.dialog.get());

    scene.Type(1000, Text("100000000"));
    QTest::keyClick(scene.Edit(1000), Qt::Key_Return);
    EXPECT_TRUE(scene.prompts.messages.empty());
    EXPECT_EQ(scene.options.DesiredCacheSize, kDesiredCacheSizeLimit);
    EXPECT_EQ(scene.Edit(1000)->text(), Text("10000"));
    EXPECT_TRUE(platform::PathExists(scene.program.Instance(kDesiredCacheSizeLimit)));
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(kDesiredCacheSizeLimit + 1)));
}

TEST(Dialog, ARefusedNumberIsReportedAndTheEarlierValueKept) {
    DialogScene scene({"-cpu", "2"});
    scene.program.MakeInstance(1);
    scene.Init();
    ActivateShown(scene.dialog.get());

    scene.Type(1000, Text("3x"));
    QTest::keyClick(scene.Edit(1000), Qt::Key_Return);
    ASSERT_FALSE(scene.prompts.messages.empty());
    for (const auto& message : scene.prompts.messages) {
        EXPECT_EQ(message.text, Text(kPositiveIntegerMessage));
        EXPECT_EQ(message.kind, EMessageKind::Warning);
    }
    EXPECT_EQ(scene.options.DesiredCacheSize, 1u);
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(2)));
    // The handler went on with the earlier value and showed it; the focus is back on the field.
    EXPECT_EQ(scene.Edit(1000)->text(), Text("1"));
    EXPECT_EQ(QApplication::focusWidget(), scene.Edit(1000));

    // Exit refuses to end while a field is refused; a number too large for 32 bits is refused too.
    scene.Type(1000, Text("4294967296"));
    scene.prompts.messages.clear();
    scene.Button(1007)->click();
    EXPECT_FALSE(scene.dialog->HasEnded());
    EXPECT_FALSE(scene.prompts.messages.empty());

    // Corrected, it is applied without a word.
    scene.Type(1000, Text("2"));
    scene.prompts.messages.clear();
    QTest::keyClick(scene.Edit(1000), Qt::Key_Return);
    EXPECT_TRUE(scene.prompts.messages.empty());
    EXPECT_TRUE(platform::IsDirectory(scene.program.Instance(2)));
}

TEST(Dialog, WithoutATrayCloseAndMinimiseGoToTheTaskBar) {
    DialogScene scene;
    scene.Init();
    ASSERT_TRUE(scene.dialog->isVisible());

    EXPECT_FALSE(CloseFromTitleBar(scene.dialog.get()));
    ASSERT_TRUE(WaitUntil([&] { return scene.dialog->isMinimized(); }));
    EXPECT_TRUE(scene.dialog->isVisible()) << "never hidden out of reach";
    EXPECT_TRUE(scene.dialog->IsMinimized());
    EXPECT_FALSE(scene.dialog->HasEnded());

    scene.dialog->OnTrayCommand(ID_SYSTRAY_RESTORE);
    ASSERT_TRUE(WaitUntil([&] { return !scene.dialog->isMinimized(); }));
    EXPECT_FALSE(scene.dialog->IsMinimized());

    // Minimised by the window manager: the same road.
    scene.dialog->setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_TRUE(scene.dialog->IsMinimized());
    EXPECT_TRUE(scene.dialog->isVisible());

    // "-min" starts it minimised on the task bar.
    DialogScene minimised({"-min"});
    minimised.Init();
    EXPECT_TRUE(minimised.dialog->isVisible());
    EXPECT_TRUE(minimised.dialog->isMinimized());
    EXPECT_TRUE(minimised.dialog->IsMinimized());
}

TEST(Dialog, WithATrayMinimiseHidesAndTheDefaultItemFollows) {
    DialogScene scene({}, true);
    QString defaultItem;
    scene.tray.SetMenuPresenter([&](QMenu& menu, const QPoint&) -> QAction* {
        defaultItem = menu.defaultAction() != nullptr ? menu.defaultAction()->text() : QString();
        return nullptr;
    });
    auto menuDefault = [&] {
        defaultItem.clear();
        scene.tray.OnIconNotify(kTrayIconId, QSystemTrayIcon::Context);
        return defaultItem;
    };
    scene.Init();
    ASSERT_TRUE(scene.dialog->isVisible());
    EXPECT_EQ(menuDefault(), Text("Minimize"));

    EXPECT_FALSE(CloseFromTitleBar(scene.dialog.get()));
    ASSERT_TRUE(WaitUntil([&] { return !scene.dialog->isVisible(); }));
    EXPECT_TRUE(scene.dialog->IsMinimized());
    EXPECT_EQ(menuDefault(), Text("Restore"));

    // A double click on the icon carries out the default item.
    scene.tray.OnIconNotify(kTrayIconId, QSystemTrayIcon::DoubleClick);
    ASSERT_TRUE(WaitUntil([&] { return scene.dialog->isVisible() && !scene.dialog->isMinimized(); }));
    EXPECT_EQ(menuDefault(), Text("Minimize"));
    scene.tray.OnIconNotify(kTrayIconId, QSystemTrayIcon::DoubleClick);
    ASSERT_TRUE(WaitUntil([&] { return !scene.dialog->isVisible(); }));

    // Saved while hidden, the file says to start minimised; "-min" then starts it hidden.
    scene.dialog->OnTrayCommand(ID_SYSTRAY_SAVECONFIG);
    EXPECT_NE(test::ReadFile(scene.program.dir / "vantrel.cfg").find("-min"), std::string::npos);
    DialogScene minimised({"-min"}, true);
    minimised.Init();
    EXPECT_FALSE(minimised.dialog->isVisible());
    EXPECT_TRUE(minimised.dialog->IsMinimized());
}

} // namespace
} // namespace vantrel

namespace vantrel {
namespace {

TEST(Dialog, StartAtLoginWritesAndRemovesTheAutostartEntry) {
    test::TempDir config;
    test::ScopedEnv configHome("XDG_CONFIG_HOME", config.Path());
    {
        test::DialogScene scene;
        QAction* login = scene.WindowMenuItem(QStringLiteral("Start at login"));
        ASSERT_NE(login, nullptr);
        EXPECT_FALSE(login->isChecked());
        login->setChecked(true);
        const std::string entry = config / "autostart/vantrel.desktop";
        std::string text = platform::ReadFileText(entry).value_or("");
        EXPECT_NE(text.find("Exec=\"" + scene.program.exe + "\" -min\n"), std::string::npos) << text;
        login->setChecked(false);
        EXPECT_FALSE(platform::PathExists(entry));
    }
    // A path with the characters an Exec line must escape stays one argument.
    EXPECT_EQ(QuoteExecArgument(QStringLiteral("/home/a b/$x\\\"q")),
              QStringLiteral("\"/home/a b/\\\\$x\\\\\\\\\\\\\"q\""));
}

TEST(Dialog, TheWindowKeepsItsPlaceAndStateForTheNextStartOfTheSameProgramDirectory) {
    test::TempDir config;
    test::ScopedEnv configHome("XDG_CONFIG_HOME", config.Path());
    test::DialogScene scene;
    auto shown = [&] { return scene.dialog->isVisible(); };
    auto exitAndRestart = [&] {
        scene.dialog->OnTrayCommand(ID_SYSTRAY_EXIT);
        ASSERT_TRUE(WaitUntil([&] { return scene.dialog->HasEnded(); }));
        scene.Restart();
        scene.Init();
        ASSERT_TRUE(WaitUntil(shown));
    };
    scene.Init();
    ASSERT_TRUE(WaitUntil(shown));
    const QPoint place(scene.dialog->x() + 41, scene.dialog->y() + 29);
    scene.dialog->move(place);
    ASSERT_TRUE(WaitUntil([&] { return scene.dialog->pos() == place; }));

    exitAndRestart();
    EXPECT_EQ(scene.dialog->pos(), place) << "the place was not kept";
    EXPECT_FALSE(scene.dialog->isMaximized());
    // Kept in a file of its own: vantrel.cfg keeps its options only.
    EXPECT_TRUE(platform::PathExists(config / "vantrel/windows.ini"));
    EXPECT_EQ(platform::ReadFileText(scene.program.dir / "vantrel.cfg").value_or("").find("geometry"),
              std::string::npos);

    // Maximised stays maximised, also when restored from the tray's Restore.
    scene.dialog->showMaximized();
    ASSERT_TRUE(WaitUntil([&] { return scene.dialog->isMaximized(); }));
    exitAndRestart();
    EXPECT_TRUE(scene.dialog->isMaximized()) << "the state was not kept";
    scene.dialog->OnSysCommand(SC_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return scene.dialog->isMinimized(); }));
    scene.dialog->OnTrayCommand(ID_SYSTRAY_RESTORE);
    ASSERT_TRUE(WaitUntil([&] { return shown() && !scene.dialog->isMinimized(); }));
    EXPECT_TRUE(scene.dialog->isMaximized()) << "Restore dropped the maximised state";

    // Another program directory's copy does not take this one's place.
    test::DialogScene other;
    other.Init();
    ASSERT_TRUE(WaitUntil([&] { return other.dialog->isVisible(); }));
    EXPECT_NE(other.dialog->pos(), place);
    EXPECT_FALSE(other.dialog->isMaximized());
}

TEST(Dialog, WithTwoCopiesTheTitleAndTipNameTheProgramDirectory) {
    EXPECT_EQ(ShortDirectoryLabel("/home/ann/orva", "/home/ann"), QStringLiteral("~/orva"));
    EXPECT_EQ(ShortDirectoryLabel("/home/annie/orva", "/home/ann"), QStringLiteral("/home/annie/orva"));
    EXPECT_EQ(ShortDirectoryLabel("/srv/a/very/long/path/to/the/orva/cache/copy2", ""),
              QStringLiteral("...ath/to/the/orva/cache/copy2"));

    test::DialogScene scene({}, true);
    scene.Init();
    EXPECT_EQ(scene.dialog->windowTitle(), QStringLiteral("Vantrel"));
    scene.dialog->ShowProgramDirectory(scene.program.dir.Path());
    const QString label = ShortDirectoryLabel(scene.program.dir.Path(), std::getenv("HOME") ? std::getenv("HOME") : "");
    EXPECT_EQ(scene.dialog->windowTitle(), QStringLiteral("Vantrel - ") + label);
    ASSERT_NE(scene.tray.TrayIcon(), nullptr);
    EXPECT_TRUE(scene.tray.TrayIcon()->toolTip().startsWith(QStringLiteral("Vantrel ") + label))
        << scene.tray.TrayIcon()->toolTip().toStdString();
    // Every later tip keeps it on its first line.
    scene.controller->RefreshCounters();
    EXPECT_TRUE(scene.tray.TrayIcon()->toolTip().startsWith(QStringLiteral("Vantrel ") + label));
}

TEST(Dialog, TheWindowComesBackWhenTheTrayGoesAwayAndBoxesBlockOnlyTheDialog) {
    test::DialogScene scene({}, true);
    scene.Init();
    scene.dialog->OnSysCommand(SC_MINIMIZE);
    ASSERT_FALSE(scene.dialog->isVisible());
    // The panel quits while the window is hidden in it: the window must not be lost.
    scene.trayUp = false;
    EXPECT_TRUE(test::WaitUntil([&] { return scene.dialog->isVisible() && scene.dialog->isMinimized(); }))
        << "the hidden window stayed out of reach";
    scene.dialog->OnSysCommand(SC_RESTORE);
    EXPECT_TRUE(scene.dialog->isVisible());

    // The About box is modal for the dialog alone, so the tray icon and its menu keep working.
    Qt::WindowModality modality = Qt::NonModal;
    QTimer::singleShot(0, scene.dialog.get(), [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (box != nullptr) {
            modality = box->windowModality();
            box->close();
        }
    });
    scene.dialog->OnSysCommand(kAboutCommand);
    EXPECT_EQ(modality, Qt::WindowModal);
}

} // namespace
} // namespace vantrel
