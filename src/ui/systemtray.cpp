#include "ui/systemtray.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QList>
#include <QMenu>
#include <optional>

#include "control/trayrules.h"

namespace vantrel {

namespace {

const char* const kCommandIdProperty = "commandId";

std::optional<unsigned> CommandOf(const QAction* action) {
    if (action == nullptr || action->isSeparator())
        return std::nullopt;
    bool ok = false;
    unsigned id = action->property(kCommandIdProperty).toUInt(&ok);
    if (!ok || id == 0)
        return std::nullopt;
    return id;
}

QAction* ActionAtPosition(const QMenu& menu, unsigned position) {
    const QList<QAction*> actions = menu.actions();
    return position < static_cast<unsigned>(actions.size()) ? actions[static_cast<qsizetype>(position)] : nullptr;
}

QAction* ActionWithCommand(const QMenu& menu, unsigned commandId) {
    for (QAction* action : menu.actions()) {
        if (CommandOf(action) == commandId)
            return action;
    }
    return nullptr;
}

} // namespace

QIcon LoadVantrelIcon(unsigned id) {
    switch (id) {
    case kIconWorkHeld:
    case kIconNoWorkUnit:
    case kIconTransmitting:
    case kIconWorkPending:
        return QIcon(QStringLiteral(":/icons/dish-%1.svg").arg(id));
    default:
        return QIcon();
    }
}

QIcon LoadApplicationIcon() {
    return QIcon(QStringLiteral(":/icons/vantrel.svg"));
}

bool CSystemTray::IsStatusNotifierHostRegistered() {
    // The toolkit's own test, so both agree on the protocol in use.
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr || !bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusInterface properties(watcher, QStringLiteral("/StatusNotifierWatcher"),
                              QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    QDBusReply<QVariant> reply =
        properties.call(QStringLiteral("Get"), watcher, QStringLiteral("IsStatusNotifierHostRegistered"));
    return reply.isValid() && reply.value().toBool();
}

CSystemTray::CSystemTray(AvailabilityProbe isTrayAvailable, ProtocolProbe isStatusNotifier)
    : m_isTrayAvailable(isTrayAvailable ? std::move(isTrayAvailable) : &QSystemTrayIcon::isSystemTrayAvailable),
      m_isStatusNotifier(isStatusNotifier ? std::move(isStatusNotifier) : &CSystemTray::IsStatusNotifierHostRegistered),
      m_showMenu([](QMenu& menu, const QPoint& at) { return menu.exec(at); }) {}

CSystemTray::~CSystemTray() {
    // Once the application object is gone the toolkit has torn the icon down with it; deleting
    // it now would reach into what is already destroyed, and the process is ending anyway.
    if (QCoreApplication::instance() == nullptr) {
        static_cast<void>(m_trayIcon.release());
        static_cast<void>(m_hostMenu.release());
        return;
    }
    RemoveFromTray();
}

bool CSystemTray::AddToTray(unsigned message, const QString& tip, const QIcon& icon, unsigned id) {
    m_notify.uID = id;
    m_notify.uCallbackMessage = message;
    m_notify.hIcon = icon;
    m_notify.szTip = QString::fromStdString(FitTrayTip(tip.toStdString()));
    m_bWanted = true;
    // Handed over even without an area: on X11 the toolkit docks it as soon as one appears.
    ShowIcon();
    m_bAdded = m_isTrayAvailable();
    return m_bAdded;
}

bool CSystemTray::ChangeIcon(const QIcon& icon) {
    if (!m_bWanted)
        return false;
    m_notify.hIcon = icon;
    m_trayIcon->setIcon(icon);
    return m_bAdded;
}

bool CSystemTray::ChangeTip(const QString& text) {
    if (!m_bWanted)
        return false;
    m_notify.szTip = QString::fromStdString(FitTrayTip(text.toStdString()));
    m_trayIcon->setToolTip(m_notify.szTip);
    return m_bAdded;
}

bool CSystemTray::SetDefaultItem(unsigned item, bool byPosition) {
    if (item == m_nDefaultItem && byPosition == m_bDefaultByPosition)
        return true;
    m_nDefaultItem = item;
    m_bDefaultByPosition = byPosition;
    RefreshHostMenu();
    return BuildMenu() != nullptr;
}

bool CSystemTray::ShowMessage(const QString& title, const QString& text) {
    if (!m_bWanted)
        return false;
    m_trayIcon->showMessage(title, text, QSystemTrayIcon::Warning);
    return m_bAdded;
}

void CSystemTray::RemoveFromTray() {
    m_bWanted = false;
    m_bAdded = false;
    RetireTrayIcon();
}

bool CSystemTray::UpdateTrayPresence() {
    if (m_bWanted && !m_bAdded && m_isTrayAvailable()) {
        ShowIcon();
        m_bAdded = true;
    }
    return IsInTray();
}

bool CSystemTray::IsInTray() const {
    return m_bAdded && m_isTrayAvailable();
}

int CSystemTray::OnIconNotify(unsigned wParam, QSystemTrayIcon::ActivationReason reason) {
    if (wParam != m_notify.uID)
        return 0;
    // A StatusNotifierItem host has no double click: its single click stands for it, and it shows
    // the menu it was given itself (a menu popped at the pointer lands wrongly on Wayland).
    if (m_bStatusNotifier) {
        if (reason == QSystemTrayIcon::Trigger)
            reason = QSystemTrayIcon::DoubleClick;
        else if (reason == QSystemTrayIcon::Context && m_hostMenu)
            return 1;
    } else if (reason == QSystemTrayIcon::Trigger) {
        return 1; // the first click of a double click
    }
    switch (reason) {
    case QSystemTrayIcon::Context: {
        std::unique_ptr<QMenu> menu = BuildMenu();
        if (!menu)
            return 0;
        MarkDefaultItem(*menu);
        std::optional<unsigned> command = CommandOf(m_showMenu(*menu, QCursor::pos()));
        if (command)
            Q_EMIT commandChosen(*command);
        return 1;
    }
    case QSystemTrayIcon::DoubleClick: {
        unsigned command = m_nDefaultItem;
        if (m_bDefaultByPosition) {
            std::unique_ptr<QMenu> menu = BuildMenu();
            if (!menu)
                return 0;
            // A separator or a position past the end names no command: nothing is sent.
            std::optional<unsigned> atPosition = CommandOf(ActionAtPosition(*menu, m_nDefaultItem));
            if (!atPosition)
                return 0;
            command = *atPosition;
        }
        Q_EMIT commandChosen(command);
        return 1;
    }
    default:
        return 1;
    }
}

void CSystemTray::SetMenuPresenter(MenuPresenter presenter) {
    m_showMenu = std::move(presenter);
}

void CSystemTray::WatchPresence(bool on) {
    if (!on) {
        if (m_presenceTimer)
            m_presenceTimer->stop();
        return;
    }
    if (!m_presenceTimer) {
        m_presenceTimer = std::make_unique<QTimer>();
        // A panel restarting or a session losing its area is rare: a slow look is enough.
        m_presenceTimer->setInterval(1000);
        connect(m_presenceTimer.get(), &QTimer::timeout, this, &CSystemTray::CheckPresence);
    }
    m_presenceTimer->start();
}

void CSystemTray::CheckPresence() {
    if (!m_bAdded || m_isTrayAvailable())
        return;
    // Added again by UpdateTrayPresence once an area is back.
    m_bAdded = false;
    m_presenceTimer->stop();
    Q_EMIT trayLost();
}

void CSystemTray::EmitCommand(unsigned command) {
    ++m_nNotifyDepth;
    Q_EMIT commandChosen(command);
    --m_nNotifyDepth;
}

void CSystemTray::RefreshHostMenu() {
    if (!m_hostMenu)
        return;
    const QList<QAction*> actions = m_hostMenu->actions();
    for (std::size_t i = 0; i < kTrayMenuItems.size() && i < static_cast<std::size_t>(actions.size()); ++i) {
        QAction* action = actions[static_cast<qsizetype>(i)];
        if (kTrayMenuItems[i].text != nullptr)
            action->setText(QString::fromLatin1(kTrayMenuItems[i].text));
        action->setEnabled(true);
    }
    m_hostMenu->setDefaultAction(nullptr);
    MarkDefaultItem(*m_hostMenu);
}

std::unique_ptr<QMenu> CSystemTray::BuildMenu() const {
    // The icon's id names its menu; the program has one menu, under the icon id it always uses.
    if (m_notify.uID != kTrayIconId)
        return nullptr;
    auto menu = std::make_unique<QMenu>();
    menu->setObjectName(QLatin1String(kTrayMenuName));
    for (const TrayMenuItem& item : kTrayMenuItems) {
        if (item.text == nullptr) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromLatin1(item.text));
        action->setProperty(kCommandIdProperty, item.commandId);
    }
    return menu;
}

void CSystemTray::MarkDefaultItem(QMenu& menu) const {
    QAction* action =
        m_bDefaultByPosition ? ActionAtPosition(menu, m_nDefaultItem) : ActionWithCommand(menu, m_nDefaultItem);
    if (CommandOf(action))
        menu.setDefaultAction(action);
}

void CSystemTray::ShowIcon() {
    RetireTrayIcon();
    if (!m_bProtocolKnown) {
        // The toolkit settles the protocol once per process, at its first icon.
        m_bStatusNotifier = m_isStatusNotifier();
        m_bProtocolKnown = true;
    }
    if (m_bStatusNotifier && !m_hostMenu) {
        m_hostMenu = BuildMenu();
        if (m_hostMenu) {
            for (QAction* action : m_hostMenu->actions()) {
                connect(action, &QAction::triggered, this, [this, action] {
                    if (std::optional<unsigned> command = CommandOf(action))
                        EmitCommand(*command);
                });
            }
            connect(m_hostMenu.get(), &QMenu::aboutToShow, this, &CSystemTray::RefreshHostMenu);
            RefreshHostMenu();
        }
    }
    m_trayIcon = std::make_unique<QSystemTrayIcon>();
    if (m_hostMenu)
        m_trayIcon->setContextMenu(m_hostMenu.get());
    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        ++m_nNotifyDepth;
        OnIconNotify(m_notify.uID, reason);
        --m_nNotifyDepth;
    });
    m_trayIcon->setIcon(m_notify.hIcon);
    m_trayIcon->setToolTip(m_notify.szTip);
    m_trayIcon->show();
}

void CSystemTray::RetireTrayIcon() {
    if (!m_trayIcon)
        return;
    m_trayIcon->hide();
    disconnect(m_trayIcon.get(), nullptr, this, nullptr);
    if (m_nNotifyDepth == 0) {
        m_trayIcon.reset();
        return;
    }
    // A command handled during the icon's own notification must not delete the icon under the
    // signal that is still being delivered.
    QSystemTrayIcon* retired = m_trayIcon.release();
    retired->setParent(this);
    retired->deleteLater();
}

} // namespace vantrel
