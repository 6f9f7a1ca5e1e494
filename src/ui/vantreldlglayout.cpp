// The main dialog's controls, their layout and its window menu.
#include "ui/autostart.h"
#include "ui/percentbar.h"
#include "ui/vantreldlg.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <utility>

namespace vantrel {

namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

QLabel* FixedLabel(const char* text) {
    return new QLabel(Text(text));
}

} // namespace

template <class TWidget, class... TArgs> TWidget* CVantrelDlg::MakeControl(int id, TArgs&&... args) {
    auto* widget = new TWidget(std::forward<TArgs>(args)..., this);
    widget->setProperty(kControlIdProperty, id);
    m_controls.emplace(id, widget);
    return widget;
}

QLineEdit* CVantrelDlg::MakeEdit(int id) {
    return MakeControl<QLineEdit>(id);
}

QLabel* CVantrelDlg::MakeCounter(int id) {
    auto* label = MakeControl<QLabel>(id, Text("0"));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

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
    addRow("&Maximum Processes:", MakeEdit(1004));
    addRow("&Desired Cache Size:", MakeEdit(1000));
    addRow("Current Cache Size:", MakeCounter(1001));
    addRow("Processing:", MakeCounter(1011));
    addRow("Waiting to Process:", MakeCounter(1003));
    addRow("Ready to Transmit:", MakeCounter(1002));
    addRow("Need to Fill:", MakeCounter(1032));
    auto* left = new QVBoxLayout;
    left->addLayout(cacheGrid);
    left->addWidget(MakeControl<QCheckBox>(1012, Text("&Hide Processing")));
    left->addWidget(MakeControl<QCheckBox>(1031, Text("&Auto Transmit")));
    left->addWidget(MakeControl<QCheckBox>(1054, Text("Display &Transmit")));
    left->addWidget(MakeControl<QCheckBox>(kNotifyControlId, Text("Notify me of problems")));
    left->addStretch();

    // Right: the server, progress and priority groups.
    auto* server = new QGroupBox(Text("Proxy/Socks Server"));
    auto* serverGrid = new QGridLayout(server);
    auto* modes = new QHBoxLayout;
    modes->addWidget(MakeControl<QRadioButton>(1013, Text("No Proxy/Soc&ks")));
    modes->addWidget(MakeControl<QRadioButton>(1014, Text("Pro&xy Server")));
    modes->addWidget(MakeControl<QRadioButton>(1015, Text("&Socks Server")));
    serverGrid->addLayout(modes, 0, 0, 1, 3);
    serverGrid->addWidget(MakeControl<QLabel>(1016, Text("H&ost:")), 1, 0);
    serverGrid->addWidget(MakeEdit(1018), 1, 1, 1, 2);
    serverGrid->addWidget(MakeControl<QLabel>(1017, Text("&Port:")), 2, 0);
    serverGrid->addWidget(MakeEdit(1019), 2, 1);
    serverGrid->addWidget(MakeControl<QCheckBox>(1052, Text("Use &Colon")), 2, 2);
    serverGrid->addWidget(MakeControl<QLabel>(1022, Text("Socks &UserName:")), 3, 0);
    serverGrid->addWidget(MakeEdit(1020), 3, 1, 1, 2);
    serverGrid->addWidget(MakeControl<QLabel>(1023, Text("Socks Passwo&rd:")), 4, 0);
    QLineEdit* password = MakeEdit(1021);
    for (auto [labelId, editId] : {std::pair{1016, 1018}, {1017, 1019}, {1022, 1020}, {1023, 1021}})
        qobject_cast<QLabel*>(Control(labelId))->setBuddy(Control(editId));
    password->setEchoMode(QLineEdit::Password);
    serverGrid->addWidget(password, 4, 1, 1, 2);

    auto* progress = new QGroupBox(Text("Progress Monitoring"));
    auto* progressGrid = new QGridLayout(progress);
    progressGrid->addWidget(MakeControl<QCheckBox>(1040, Text("Use Vantrel")), 0, 0, 1, 2);
    progressGrid->addWidget(MakeControl<QCheckBox>(1041, Text("Use ORVA Sp&y")), 0, 2, 1, 2);
    progressGrid->addWidget(MakeControl<QCheckBox>(1045, Text("Use &24Hr Clock")), 1, 0, 1, 2);
    progressGrid->addWidget(MakeControl<QCheckBox>(1046, Text("Create ORVA&Log.csv")), 1, 2, 1, 2);
    progressGrid->addWidget(FixedLabel("Est. Times:   Total:"), 2, 0);
    for (auto [id, name] : {std::pair{1030, "Estimated total time"}, {1043, "Time left"}, {1044, "Completion"}})
        MakeControl<QLabel>(id)->setAccessibleName(Text(name));
    progressGrid->addWidget(Control(1030), 2, 1);
    progressGrid->addWidget(FixedLabel("Left:"), 2, 2);
    progressGrid->addWidget(Control(1043), 2, 3);
    progressGrid->addWidget(FixedLabel("Completion:"), 3, 0);
    progressGrid->addWidget(Control(1044), 3, 1, 1, 3);
    m_bar = MakeControl<CPercentBar>(1029);
    m_bar->setAccessibleName(Text("Progress of the current work unit"));
    progressGrid->addWidget(m_bar, 4, 0, 1, 3);
    progressGrid->addWidget(MakeControl<QPushButton>(1026, Text("Update Progress Now")), 4, 3);

    auto* priority = new QGroupBox(Text("ORVA Client Priority"));
    auto* priorityRow = new QHBoxLayout(priority);
    priorityRow->addWidget(MakeControl<QRadioButton>(1048, Text("Lo&w")));
    priorityRow->addWidget(MakeControl<QRadioButton>(1050, Text("&Normal")));
    priorityRow->addWidget(MakeControl<QRadioButton>(1049, Text("H&igh")));
    priorityRow->addStretch();
    priorityRow->addWidget(MakeControl<QCheckBox>(1053, Text("Set Processor A&ffinity")));

    auto* right = new QVBoxLayout;
    right->addWidget(server);
    right->addWidget(progress);
    right->addWidget(priority);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(MakeControl<QPushButton>(1051, Text("Save Confi&g")));
    buttons->addWidget(MakeControl<QPushButton>(1028, Text("N&ew Client")));
    buttons->addStretch();
    m_transmitButton = MakeControl<QPushButton>(1008, Text("Transmit"));
    buttons->addWidget(m_transmitButton);
    buttons->addWidget(MakeControl<QPushButton>(1007, Text("Exit")));
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
    m_emptyCacheHint->setBuddy(Control(1000));
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
