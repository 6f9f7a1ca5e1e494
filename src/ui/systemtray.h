#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace vantrel {

// The picture for an icon id (128, 130, 131, 138); a null icon for any other id.
QIcon LoadVantrelIcon(unsigned id);
// The program's own icon, for windows and the About box.
QIcon LoadApplicationIcon();

// The program's icon in the notification area, with its tooltip, its right-button menu and its
// double-click action. Every call belongs to the main dialog's thread.
//
// A desktop may have no notification area when the program starts (none running yet, or a
// desktop that shows none). The program works without one: AddToTray answers false but still
// hands the icon to the toolkit (which docks it by itself on X11 once an area appears), and
// UpdateTrayPresence, which the dialog calls whenever it is minimised or restored, re-checks and
// adds the icon afresh once an area is there. The dialog hides itself on minimise only when
// UpdateTrayPresence answers true; otherwise it minimises to the task bar, so it can always be
// reached. While the dialog is hidden it asks WatchPresence, and a slow check then tells it
// (trayLost) when the area goes away, so the window is never lost with the icon.
//
// Two protocols: XEmbed (trayer and other X11 areas) delivers double clicks and lets the program
// pop its menu at the pointer, as above. The D-Bus StatusNotifierItem protocol (KDE, GNOME's
// AppIndicator extension, most Wayland panels) delivers single clicks only and shows the menu
// itself: there a single click does the default item's command, and the menu is handed to the
// host once, refreshed (texts, enabled states, default item) each time before it opens.
class CSystemTray : public QObject {
    Q_OBJECT
public:
    // Whether a notification area is there now.
    using AvailabilityProbe = std::function<bool()>;
    // Shows the menu at a point and answers the chosen action (none when dismissed).
    using MenuPresenter = std::function<QAction*(QMenu& menu, const QPoint& at)>;

    // Whether the area speaks the StatusNotifierItem protocol (the toolkit's own choice).
    using ProtocolProbe = std::function<bool()>;

    // Creates no toolkit objects, so the process-wide object may exist before the application.
    explicit CSystemTray(AvailabilityProbe isTrayAvailable = {}, ProtocolProbe isStatusNotifier = {});
    ~CSystemTray() override;

    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // Adds the icon with its tip and id (the id is also the id of its menu). message is the
    // notification's id, kept for the record: notifications always reach OnIconNotify. False when
    // no notification area is there now; a later UpdateTrayPresence then adds it.
    bool AddToTray(unsigned message, const QString& tip, const QIcon& icon, unsigned id);

    // False while the icon is not added; the new icon or tip is still kept and handed on, so an
    // icon that appears later shows the current state. A tip is cut to what the area takes
    // (FitTrayTip).
    bool ChangeIcon(const QIcon& icon);
    bool ChangeTip(const QString& text);

    // The menu's default item (shown bold), by command id or by position. True when the values
    // are unchanged; otherwise whether the menu could be built. The values are kept either way
    // and applied each time the menu is shown or the icon is double-clicked.
    bool SetDefaultItem(unsigned item, bool byPosition);

    // A desktop notification from the icon (through the desktop's notification service where
    // there is one). False while the icon is not added.
    bool ShowMessage(const QString& title, const QString& text);

    // Takes the icon out for good; a later UpdateTrayPresence does not bring it back.
    void RemoveFromTray();

    // Re-checks the notification area: adds the icon if one has appeared since AddToTray.
    // Answers IsInTray().
    bool UpdateTrayPresence();

    // The icon is added and a notification area shows it now, so hiding the dialog leaves the
    // user a way back.
    bool IsInTray() const;

    // A notification of the icon: wParam is the icon's id. Right button: the menu, its chosen
    // command delivered by commandChosen. Double click: the default item's command. Answers 0
    // when the notification was not for this icon, the menu could not be built or the default
    // position names no command; else 1.
    virtual int OnIconNotify(unsigned wParam, QSystemTrayIcon::ActivationReason reason);

    // Test seam: how the menu is shown (by default QMenu::exec, which waits for the choice).
    void SetMenuPresenter(MenuPresenter presenter);

    // While on, the area is checked now and then; trayLost comes once if it goes away.
    void WatchPresence(bool on);
    // The icon talks to a StatusNotifierItem host (decided when the icon is first shown).
    bool IsStatusNotifier() const { return m_bStatusNotifier; }
    // The menu handed to a StatusNotifierItem host; null on XEmbed.
    QMenu* HostMenu() const { return m_hostMenu.get(); }

    // The desktop's own answer: a StatusNotifierWatcher with a host is on the session bus.
    static bool IsStatusNotifierHostRegistered();

    // The icon as handed to the toolkit; null before AddToTray and after RemoveFromTray.
    const QSystemTrayIcon* TrayIcon() const { return m_trayIcon.get(); }

Q_SIGNALS:
    // A command of the menu, for the main dialog to carry out. Emitted during the notification;
    // a handler may remove or re-add the icon (the old one is then deleted later).
    void commandChosen(unsigned commandId);
    // The notification area went away while WatchPresence was on.
    void trayLost();

private:
    // What the notification area knows of the icon.
    struct NotifyRecord {
        unsigned uID = 0;
        unsigned uCallbackMessage = 0;
        QIcon hIcon;
        QString szTip;
    };

    // The menu whose id is the icon's id, built afresh so its texts never change; null when there
    // is no such menu.
    std::unique_ptr<QMenu> BuildMenu() const;
    void MarkDefaultItem(QMenu& menu) const;
    // The host's menu as the resource has it, with the current default item.
    void RefreshHostMenu();
    void EmitCommand(unsigned command);
    void CheckPresence();
    // Hands the icon afresh to the toolkit, which then binds to the area that is there now.
    void ShowIcon();
    // Takes the toolkit's icon away; deleted later when that icon's own notification is running.
    void RetireTrayIcon();

    AvailabilityProbe m_isTrayAvailable;
    ProtocolProbe m_isStatusNotifier;
    MenuPresenter m_showMenu;
    std::unique_ptr<QMenu> m_hostMenu; // outlives every icon it was handed to
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<QTimer> m_presenceTimer;
    bool m_bStatusNotifier = false;
    bool m_bProtocolKnown = false;
    bool m_bAdded = false;
    bool m_bWanted = false;      // AddToTray was called and RemoveFromTray was not
    int m_nNotifyDepth = 0;      // notifications of the toolkit's icon being handled now
    NotifyRecord m_notify;
    unsigned m_nDefaultItem = 0;
    bool m_bDefaultByPosition = true;
};

} // namespace vantrel
