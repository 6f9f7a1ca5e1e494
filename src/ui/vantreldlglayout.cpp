// The main dialog's controls, their layout and its window menu.
#include "ui/autostart.h"
#include "ui/dialogcontrols.h"
#include "ui/percentbar.h"
#include "ui/vantreldlg.h"

#include <QAction>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

QLabel* FixedLabel(const char* text) {
    return new QLabel(Text(text));
}

} // namespace

void CVantrelDlg::BuildLayout() {
    // Left: the cache's sizes and counters, and the processing switches.
    auto* cacheGrid = new QGridLayout;
    int row = 0;
    // Wide enough for any 32-bit count, no wider.
    const int fieldWidth = fontMetrics().horizontalAdvance(Text("4294967295")) + 16;
    auto addRow = [&](const char* label, QWidget* field) {
        field->setFixedWidth(fieldWidth);
        QLabel* caption = FixedLabel(label);
        // The label's mnemonic focuses its field; a counter is read out under its caption.
        caption->setBuddy(field);
        field->setAccessibleName(caption->text().remove(QLatin1Char('&')).chopped(1));
        cacheGrid->addWidget(caption, row, 0);
        cacheGrid->addWidget(field, row++, 1);
    };
    addRow("&Maximum Processes:", MakeControl(IDC_MAX_PROCESSES));
    addRow("&Desired Cache Size:", MakeControl(IDC_DESIRED_CACHE_SIZE));
    addRow("Current Cache Size:", MakeControl(IDC_CURRENT_CACHE_SIZE));
    addRow("Processing:", MakeControl(IDC_PROCESSING));
    addRow("Waiting to Process:", MakeControl(IDC_WAITING_TO_PROCESS));
    addRow("Ready to Transmit:", MakeControl(IDC_READY_TO_TRANSMIT));
    addRow("Need to Fill:", MakeControl(IDC_NEED_TO_FILL));
    auto* left = new QVBoxLayout;
    left->addLayout(cacheGrid);
    for (EControlId id : {IDC_HIDE_PROCESSING, IDC_AUTO_TRANSMIT, IDC_DISPLAY_TRANSMIT, IDC_NOTIFY_PROBLEMS})
        left->addWidget(MakeControl(id));
    left->addStretch();

    // Right: the server, progress and priority groups.
    auto* server = new QGroupBox(Text("Proxy/Socks Server"));
    auto* serverGrid = new QGridLayout(server);
    auto* modes = new QHBoxLayout;
    for (EControlId id : {IDC_NO_SERVER, IDC_PROXY_SERVER, IDC_SOCKS_SERVER})
        modes->addWidget(MakeControl(id));
    serverGrid->addLayout(modes, 0, 0, 1, 3);
    serverGrid->addWidget(MakeControl(IDC_HOST_LABEL), 1, 0);
    serverGrid->addWidget(MakeControl(IDC_HOST), 1, 1, 1, 2);
    serverGrid->addWidget(MakeControl(IDC_PORT_LABEL), 2, 0);
    serverGrid->addWidget(MakeControl(IDC_PORT), 2, 1);
    serverGrid->addWidget(MakeControl(IDC_USE_COLON), 2, 2);
    serverGrid->addWidget(MakeControl(IDC_SOCKS_USER_LABEL), 3, 0);
    serverGrid->addWidget(MakeControl(IDC_SOCKS_USER), 3, 1, 1, 2);
    serverGrid->addWidget(MakeControl(IDC_SOCKS_PASSWORD_LABEL), 4, 0);
    serverGrid->addWidget(MakeControl(IDC_SOCKS_PASSWORD), 4, 1, 1, 2);

    auto* progress = new QGroupBox(Text("Progress Monitoring"));
    auto* progressGrid = new QGridLayout(progress);
    progressGrid->addWidget(MakeControl(IDC_MONITOR_PROGRESS), 0, 0, 1, 2);
    progressGrid->addWidget(MakeControl(IDC_USE_SPY), 0, 2, 1, 2);
    progressGrid->addWidget(MakeControl(IDC_24HOUR_CLOCK), 1, 0, 1, 2);
    progressGrid->addWidget(MakeControl(IDC_CREATE_LOG), 1, 2, 1, 2);
    progressGrid->addWidget(FixedLabel("Est. Times:   Total:"), 2, 0);
    progressGrid->addWidget(MakeControl(IDC_TOTAL_TIME), 2, 1);
    progressGrid->addWidget(FixedLabel("Left:"), 2, 2);
    progressGrid->addWidget(MakeControl(IDC_TIME_LEFT), 2, 3);
    progressGrid->addWidget(FixedLabel("Completion:"), 3, 0);
    progressGrid->addWidget(MakeControl(IDC_COMPLETION), 3, 1, 1, 3);
    m_bar = qobject_cast<CPercentBar*>(MakeControl(IDC_PERCENT_BAR));
    progressGrid->addWidget(m_bar, 4, 0, 1, 3);
    progressGrid->addWidget(MakeControl(IDC_UPDATE_PROGRESS), 4, 3);

    auto* priority = new QGroupBox(Text("ORVA Client Priority"));
    auto* priorityRow = new QHBoxLayout(priority);
    for (EControlId id : {IDC_PRIORITY_LOW, IDC_PRIORITY_NORMAL, IDC_PRIORITY_HIGH})
        priorityRow->addWidget(MakeControl(id));
    priorityRow->addStretch();
    priorityRow->addWidget(MakeControl(IDC_SET_AFFINITY));

    auto* right = new QVBoxLayout;
    right->addWidget(server);
    right->addWidget(progress);
    right->addWidget(priority);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(MakeControl(IDC_SAVE_CONFIG));
    buttons->addWidget(MakeControl(IDC_NEW_CLIENT));
    buttons->addStretch();
    m_transmitButton = qobject_cast<QPushButton*>(MakeControl(IDC_TRANSMIT));
    buttons->addWidget(m_transmitButton);
    buttons->addWidget(MakeControl(IDC_EXIT));
    // A label's mnemonic focuses its field.
    for (const DialogControl& control : DialogControls())
        if (control.buddy)
            qobject_cast<QLabel*>(Control(control.id))->setBuddy(Control(*control.buddy));
    // Enter belongs to the dialog (apply the fields), never to a default button.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right, 1);
    auto* main = new QVBoxLayout(this);
    m_emptyCacheHint = new QLabel(Text(kEmptyCacheHint), this);
    m_emptyCacheHint->setBuddy(Control(IDC_DESIRED_CACHE_SIZE));
    m_emptyCacheHint->hide();
    main->addWidget(m_emptyCacheHint);
    main->addLayout(columns);
    m_notice = new QLabel;
    m_notice->setWordWrap(true);
    m_notice->setVisible(false);
    main->addWidget(m_notice);
    main->addLayout(buttons);
}

void CVantrelDlg::BuildWindowMenu() {
    // Linux has no window system menu for a program to extend: the same items sit in a menu
    // bar, in the dialog's context menu and behind keyboard shortcuts.
    m_windowMenu = new QMenu(Text("&Vantrel"), this);
    m_transmitAction = m_windowMenu->addAction(Text("Transmit"));
    m_transmitAction->setProperty(kCommandIdProperty, kTransmitCommand);
    m_transmitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    m_windowMenu->addSeparator();
    QAction* about = m_windowMenu->addAction(Text("&About Vantrel..."));
    about->setProperty(kCommandIdProperty, kAboutCommand);
    about->setShortcut(QKeySequence(QKeySequence::HelpContents));
    QAction* statistics = m_windowMenu->addAction(Text("&Statistics..."));
    statistics->setProperty(kCommandIdProperty, kStatisticsCommand);
    // Beside the window's own items, the desktop's way to start with the session.
    m_windowMenu->addSeparator();
    QAction* login = m_windowMenu->addAction(Text("Start at login"));
    login->setCheckable(true);
    login->setChecked(IsStartAtLogin());
    connect(login, &QAction::toggled, this, [this, login](bool on) {
        SetStartAtLogin(on, m_strOwnExecutable);
        // The tick shows what the disk holds, whether the change took or not.
        const QSignalBlocker quiet(login);
        login->setChecked(IsStartAtLogin());
    });
    // Someone may have added or removed the entry since: read it again each time the menu opens.
    connect(m_windowMenu, &QMenu::aboutToShow, login, [login] {
        const QSignalBlocker quiet(login);
        login->setChecked(IsStartAtLogin());
    });
    // Ctrl+Q ends the program as the Exit button does.
    auto* quit = new QAction(Text("Exit"), this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    addAction(quit);
    connect(quit, &QAction::triggered, this, [this] {
        if (m_controller != nullptr && !m_bEnded)
            m_controller->Exit();
    });
    for (QAction* action : {m_transmitAction, about, statistics}) {
        addAction(action); // the shortcuts work while the menu is closed
        connect(action, &QAction::triggered, this,
                [this, action] { OnSysCommand(action->property(kCommandIdProperty).toUInt()); });
    }
    auto* menuBar = new QMenuBar(this);
    menuBar->addMenu(m_windowMenu);
    layout()->setMenuBar(menuBar);
}

} // namespace vantrel
