#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "engine/messagetarget.h"
#include "ui/systemtray.h"
#include "control/trayrules.h"

namespace vantrel::test {
namespace {

// One item as the menu showed it; a separator has no text.
struct ShownItem {
    std::string text;
    unsigned commandId;
    bool isDefault;
    bool operator==(const ShownItem&) const = default;
};

// A tray whose notification area the test switches on and off, with a menu presenter that
// records the menu and picks the command in `choose` (0 dismisses the menu).
class TrayTest : public ::testing::Test {
protected:
    TrayTest() : tray([this] { return trayAvailable; }), commands(&tray, &CSystemTray::commandChosen) {
        tray.SetMenuPresenter([this](QMenu& menu, const QPoint&) -> QAction* {
            menuName = menu.objectName().toStdString();
            shown.clear();
            QAction* chosen = nullptr;
            for (QAction* action : menu.actions()) {
                unsigned id = action->property("commandId").toUInt();
                shown.push_back({action->text().toStdString(), id, menu.defaultAction() == action});
                if (id != 0 && id == choose)
                    chosen = action;
            }
            // A later showing must not see this: the menu is built afresh each time.
            menu.actions().at(8)->setText(QStringLiteral("Stop Transmit"));
            return chosen;
        });
    }

    bool Add(unsigned id = kTrayIconId) {
        return tray.AddToTray(WM_APP_3, QStringLiteral("Vantrel"), LoadVantrelIcon(kIconWorkHeld), id);
    }

    // Right-clicks and answers the item shown bold ("" when none, "no menu" when none opened).
    std::string BoldItem() {
        shown.clear();
        if (tray.OnIconNotify(kTrayIconId, QSystemTrayIcon::Context) != 1 || shown.empty())
            return "no menu";
        for (const ShownItem& item : shown) {
            if (item.isDefault)
                return item.text;
        }
        return "";
    }

    // The commands delivered since the last call.
    std::vector<unsigned> Delivered() {
        std::vector<unsigned> ids;
        for (const QList<QVariant>& arguments : commands)
            ids.push_back(arguments.at(0).toUInt());
        commands.clear();
        return ids;
    }

    bool trayAvailable = true;
    CSystemTray tray;
    QSignalSpy commands;
    unsigned choose = 0;
    std::string menuName;
    std::vector<ShownItem> shown;
};

using Ids = std::vector<unsigned>;

TEST_F(TrayTest, RightClickShowsTheItemsAndDeliversTheChosenCommand) {
    ASSERT_TRUE(Add());
    EXPECT_EQ(tray.OnIconNotify(133, QSystemTrayIcon::Context), 1);
    EXPECT_EQ(menuName, "SYSTRAY_MENU");
    // Before the dialog first sets a default, position 0 is the default item.
    std::vector<ShownItem> expected{
        {"Exit", 32775, true},        {"", 0, false},
        {"Minimize", 32776, false},   {"Restore", 32774, false},
        {"", 0, false},               {"Save Configuration", 32779, false},
        {"", 0, false},               {"About Vantrel", 32772, false},
        {"Transmit", 32773, false},   {"", 0, false},
        {"Statistics", 32780, false},
    };
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(Delivered(), Ids{}); // dismissed

    choose = 32779;
    EXPECT_EQ(tray.OnIconNotify(133, QSystemTrayIcon::Context), 1);
    EXPECT_EQ(Delivered(), Ids{32779});
    EXPECT_EQ(shown.at(8).text, "Transmit");
    choose = 32780;
    EXPECT_EQ(tray.OnIconNotify(133, QSystemTrayIcon::Context), 1);
    EXPECT_EQ(Delivered(), Ids{32780});
}

TEST_F(TrayTest, TheDefaultItemIsBoldAndDoubleClickSendsIt) {
    ASSERT_TRUE(Add());
    auto doubleClick = [this] { return tray.OnIconNotify(133, QSystemTrayIcon::DoubleClick); };

    EXPECT_EQ(doubleClick(), 1); // initially position 0, "Exit"
    EXPECT_EQ(Delivered(), Ids{ID_SYSTRAY_EXIT});

    EXPECT_TRUE(tray.SetDefaultItem(ID_SYSTRAY_RESTORE, false)); // the dialog was hidden
    EXPECT_EQ(BoldItem(), "Restore");
    doubleClick();
    EXPECT_TRUE(tray.SetDefaultItem(ID_SYSTRAY_MINIMIZE, false)); // the dialog was shown
    EXPECT_TRUE(tray.SetDefaultItem(ID_SYSTRAY_MINIMIZE, false)); // unchanged
    EXPECT_EQ(BoldItem(), "Minimize");
    doubleClick();
    EXPECT_TRUE(tray.SetDefaultItem(3, true)); // by position
    EXPECT_EQ(BoldItem(), "Restore");
    doubleClick();
    EXPECT_EQ(Delivered(), (Ids{ID_SYSTRAY_RESTORE, ID_SYSTRAY_MINIMIZE, ID_SYSTRAY_RESTORE}));

    // A separator or a position past the end names no command: nothing bold, nothing sent.
    for (unsigned position : {1u, 9u, 1000u}) {
        tray.SetDefaultItem(position, true);
        EXPECT_EQ(BoldItem(), "") << position;
        EXPECT_EQ(doubleClick(), 0) << position;
    }
    EXPECT_EQ(Delivered(), Ids{});
    // A command the menu does not hold: nothing bold, yet a double click sends it as stored.
    tray.SetDefaultItem(4242, false);
    EXPECT_EQ(BoldItem(), "");
    EXPECT_EQ(doubleClick(), 1);
    EXPECT_EQ(Delivered(), Ids{4242});
}

TEST_F(TrayTest, OnlyOurIconsRightAndDoubleClicksDoAnything) {
    ASSERT_TRUE(Add());
    tray.SetDefaultItem(ID_SYSTRAY_RESTORE, false);
    EXPECT_EQ(tray.OnIconNotify(134, QSystemTrayIcon::Context), 0);
    EXPECT_EQ(tray.OnIconNotify(134, QSystemTrayIcon::DoubleClick), 0);
    EXPECT_EQ(tray.OnIconNotify(0, QSystemTrayIcon::DoubleClick), 0);
    EXPECT_EQ(tray.OnIconNotify(133, QSystemTrayIcon::Trigger), 1);
    EXPECT_EQ(tray.OnIconNotify(133, QSystemTrayIcon::MiddleClick), 1);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(Delivered(), Ids{});
}

TEST_F(TrayTest, AnIconIdWithoutAMenuShowsNothingButKeepsTheDefault) {
    ASSERT_TRUE(Add(7));
    EXPECT_EQ(tray.OnIconNotify(7, QSystemTrayIcon::Context), 0);
    EXPECT_TRUE(shown.empty());
    // By position the command comes from the menu, so nothing is sent.
    EXPECT_EQ(tray.OnIconNotify(7, QSystemTrayIcon::DoubleClick), 0);
    EXPECT_EQ(Delivered(), Ids{});

    EXPECT_FALSE(tray.SetDefaultItem(ID_SYSTRAY_RESTORE, false)); // no menu, but kept
    EXPECT_EQ(tray.OnIconNotify(7, QSystemTrayIcon::DoubleClick), 1);
    EXPECT_EQ(Delivered(), Ids{ID_SYSTRAY_RESTORE});
    ASSERT_TRUE(Add(kTrayIconId));
    EXPECT_EQ(BoldItem(), "Restore");
}

TEST(TrayWithoutArea, OffscreenHasNoAreaAndEveryCallAnswersFalse) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    CSystemTray tray; // the toolkit's own probe
    EXPECT_FALSE(tray.ChangeIcon(LoadVantrelIcon(kIconNoWorkUnit))); // before AddToTray
    EXPECT_FALSE(tray.UpdateTrayPresence());
    tray.RemoveFromTray();

    EXPECT_FALSE(tray.AddToTray(WM_APP_3, QStringLiteral("Vantrel"), LoadVantrelIcon(kIconWorkHeld), kTrayIconId));
    EXPECT_FALSE(tray.ChangeIcon(LoadVantrelIcon(kIconWorkPending)));
    EXPECT_FALSE(tray.ChangeTip(QStringLiteral("Vantrel\n2 to Return")));
    // Asked before hiding: no area, so the dialog minimises to the task bar instead.
    EXPECT_FALSE(tray.UpdateTrayPresence());
    EXPECT_FALSE(tray.IsInTray());
    tray.RemoveFromTray();
    tray.RemoveFromTray();
    EXPECT_FALSE(tray.ChangeTip(QStringLiteral("Vantrel")));
    EXPECT_EQ(tray.TrayIcon(), nullptr);
}

TEST_F(TrayTest, AnAreaThatAppearsLaterGetsTheIconWithTheCurrentState) {
    trayAvailable = false;
    EXPECT_FALSE(Add());
    QIcon transmitting = LoadVantrelIcon(kIconTransmitting);
    EXPECT_FALSE(tray.ChangeIcon(transmitting)); // not in the area, but not lost either
    EXPECT_FALSE(tray.ChangeTip(QStringLiteral("Vantrel\n2 to Return")));

    trayAvailable = true; // the dialog re-checks on its next minimise or restore
    EXPECT_FALSE(tray.IsInTray());
    EXPECT_TRUE(tray.UpdateTrayPresence());
    EXPECT_TRUE(tray.IsInTray());
    ASSERT_NE(tray.TrayIcon(), nullptr);
    EXPECT_TRUE(tray.TrayIcon()->isVisible());
    EXPECT_EQ(tray.TrayIcon()->toolTip(), QStringLiteral("Vantrel\n2 to Return"));
    EXPECT_EQ(tray.TrayIcon()->icon().cacheKey(), transmitting.cacheKey());
    EXPECT_TRUE(tray.ChangeTip(QStringLiteral("Vantrel")));
    EXPECT_EQ(tray.TrayIcon()->toolTip(), QStringLiteral("Vantrel"));

    trayAvailable = false; // the area goes: the dialog must not hide into it
    EXPECT_FALSE(tray.UpdateTrayPresence());

    tray.RemoveFromTray(); // for good: an area coming back does not bring the icon back
    trayAvailable = true;
    EXPECT_FALSE(tray.UpdateTrayPresence());
    EXPECT_EQ(tray.TrayIcon(), nullptr);
}

TEST_F(TrayTest, ATipLongerThanTheAreaTakesIsCut) {
    ASSERT_TRUE(Add());
    EXPECT_TRUE(tray.ChangeTip(QString::fromStdString(ComposeTrayTip(true, 100.0f, 4294967295u, 4294967295u))));
    EXPECT_EQ(tray.TrayIcon()->toolTip(), QStringLiteral("Vantrel - Current WU 100.00%\n4294967295 to Return"));
    EXPECT_TRUE(tray.AddToTray(WM_APP_3, QString(80, QLatin1Char('v')), LoadVantrelIcon(128), kTrayIconId));
    EXPECT_EQ(tray.TrayIcon()->toolTip(), QString(63, QLatin1Char('v')));
}

TEST_F(TrayTest, ACommandThatReplacesTheIconDuringItsOwnNotificationIsSafe) {
    trayAvailable = false;
    Add();
    trayAvailable = true;
    tray.SetDefaultItem(ID_SYSTRAY_MINIMIZE, false);

    // Minimise handled at once re-checks the area, which re-creates the icon while the old
    // icon's double-click notification is still being delivered; Exit removes it the same way.
    QObject receiver;
    bool remove = false;
    QObject::connect(&tray, &CSystemTray::commandChosen, &receiver, [&] {
        if (remove)
            tray.RemoveFromTray();
        else
            tray.UpdateTrayPresence();
    });
    for (bool removing : {false, true}) {
        remove = removing;
        QPointer<QSystemTrayIcon> old(const_cast<QSystemTrayIcon*>(tray.TrayIcon()));
        Q_EMIT old->activated(QSystemTrayIcon::DoubleClick);
        EXPECT_NE(tray.TrayIcon(), old.data());
        ASSERT_FALSE(old.isNull()) << "deleted under its own notification";
        EXPECT_FALSE(old->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(old.isNull());
    }
    EXPECT_EQ(tray.TrayIcon(), nullptr);

    // Outside a notification the icon goes at once.
    Add();
    QPointer<QSystemTrayIcon> icon(const_cast<QSystemTrayIcon*>(tray.TrayIcon()));
    tray.RemoveFromTray();
    EXPECT_TRUE(icon.isNull());
}

TEST(TrayMenu, TheRealMenuOpensAndItsChoiceReachesTheDialog) {
    CSystemTray tray([] { return true; }); // the toolkit's own menu, no presenter
    tray.AddToTray(WM_APP_3, QStringLiteral("Vantrel"), LoadVantrelIcon(kIconWorkHeld), kTrayIconId);
    tray.SetDefaultItem(ID_SYSTRAY_RESTORE, false);
    QSignalSpy commands(&tray, &CSystemTray::commandChosen);

    // Once the menu runs, pick "About Vantrel" with the keyboard as a user would.
    QString bold;
    QTimer::singleShot(0, &tray, [&bold] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            // Never leave a menu waiting: close whatever is open so the test fails instead.
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (qobject_cast<QMenu*>(widget) != nullptr)
                    widget->close();
            }
            return;
        }
        bold = menu->defaultAction() ? menu->defaultAction()->text() : QString();
        for (QAction* action : menu->actions()) {
            if (action->text() == QStringLiteral("About Vantrel"))
                menu->setActiveAction(action);
        }
        QTest::keyClick(menu, Qt::Key_Return);
    });
    EXPECT_EQ(tray.OnIconNotify(kTrayIconId, QSystemTrayIcon::Context), 1);
    EXPECT_EQ(bold, QStringLiteral("Restore"));
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toUInt(), ID_SYSTRAY_ABOUT);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST(TrayProtocols, AStatusNotifierHostGetsTheMenuAndASingleClickDoesTheDefault) {
    CSystemTray sni([] { return true; }, [] { return true; });
    QSignalSpy commands(&sni, &CSystemTray::commandChosen);
    bool popped = false;
    sni.SetMenuPresenter([&](QMenu&, const QPoint&) -> QAction* {
        popped = true;
        return nullptr;
    });
    ASSERT_TRUE(sni.AddToTray(WM_APP_3, QStringLiteral("Vantrel"), LoadVantrelIcon(kIconWorkHeld), kTrayIconId));
    ASSERT_TRUE(sni.IsStatusNotifier());
    QMenu* menu = sni.HostMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(sni.TrayIcon()->contextMenu(), menu);
    ASSERT_EQ(menu->actions().size(), static_cast<qsizetype>(kTrayMenuItems.size()));
    QAction* transmit = nullptr;
    for (QAction* action : menu->actions())
        if (action->property("commandId").toUInt() == ID_SYSTRAY_TRANSMIT)
            transmit = action;
    ASSERT_NE(transmit, nullptr);

    sni.SetDefaultItem(ID_SYSTRAY_RESTORE, false);
    EXPECT_EQ(sni.OnIconNotify(kTrayIconId, QSystemTrayIcon::Trigger), 1);
    ASSERT_EQ(commands.size(), 1);
    EXPECT_EQ(commands.at(0).at(0).toUInt(), ID_SYSTRAY_RESTORE);
    // The host shows the menu itself: nothing pops at the pointer.
    EXPECT_EQ(sni.OnIconNotify(kTrayIconId, QSystemTrayIcon::Context), 1);
    EXPECT_FALSE(popped);
    EXPECT_EQ(commands.size(), 1);

    // Before it opens, the menu is the resource's again, every item enabled, the default bold.
    transmit->setText(QStringLiteral("Stop Transmit"));
    menu->actions().at(0)->setEnabled(false);
    sni.SetDefaultItem(ID_SYSTRAY_MINIMIZE, false);
    Q_EMIT menu->aboutToShow();
    EXPECT_EQ(transmit->text(), QStringLiteral("Transmit"));
    EXPECT_TRUE(menu->actions().at(0)->isEnabled());
    ASSERT_NE(menu->defaultAction(), nullptr);
    EXPECT_EQ(menu->defaultAction()->text(), QStringLiteral("Minimize"));
    // The host's choice arrives as the item's command.
    menu->actions().at(5)->trigger();
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(commands.at(1).at(0).toUInt(), ID_SYSTRAY_SAVECONFIG);

    // XEmbed keeps the double click: a single click is only its first half, and no menu is handed
    // to the area.
    CSystemTray xembed([] { return true; }, [] { return false; });
    QSignalSpy xembedCommands(&xembed, &CSystemTray::commandChosen);
    ASSERT_TRUE(xembed.AddToTray(WM_APP_3, QStringLiteral("Vantrel"), LoadVantrelIcon(kIconWorkHeld), kTrayIconId));
    EXPECT_EQ(xembed.HostMenu(), nullptr);
    EXPECT_EQ(xembed.TrayIcon()->contextMenu(), nullptr);
    xembed.SetDefaultItem(ID_SYSTRAY_RESTORE, false);
    EXPECT_EQ(xembed.OnIconNotify(kTrayIconId, QSystemTrayIcon::Trigger), 1);
    EXPECT_EQ(xembedCommands.size(), 0);
    EXPECT_EQ(xembed.OnIconNotify(kTrayIconId, QSystemTrayIcon::DoubleClick), 1);
    EXPECT_EQ(xembedCommands.size(), 1);
}

TEST(TrayIcons, EveryStateHasItsOwnPicture) {
    std::vector<QImage> pictures;
    for (unsigned id : {kIconWorkHeld, kIconNoWorkUnit, kIconTransmitting, kIconWorkPending}) {
        QImage image = LoadVantrelIcon(id).pixmap(32, 32).toImage();
        ASSERT_EQ(image.size(), QSize(32, 32)) << id;
        EXPECT_NE(qAlpha(image.pixel(20, 12)), 0) << id; // the feed horn is drawn
        for (const QImage& other : pictures)
            EXPECT_NE(image, other) << id;
        pictures.push_back(image);
    }
    EXPECT_TRUE(LoadVantrelIcon(129).isNull());
    EXPECT_FALSE(LoadApplicationIcon().pixmap(32, 32).isNull());
}

} // namespace
} // namespace vantrel::test
