#include "ui/vantreldlg.h"

#include "control/trayrules.h"
#include "core/cachestore.h"
#include "core/configuration.h"
#include "core/optiontext.h"
#include "platform/fileops.h"
#include "ui/aboutdlg.h"
#include "ui/clientchooser.h"
#include "ui/percentbar.h"
#include "ui/statisticswnd.h"
#include "ui/systemtray.h"
#include "ui/windowplace.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <cstdlib>
#include <functional>
#include <utility>

namespace vantrel {

namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

QString Number(unsigned value) {
    return QString::number(value);
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

} // namespace

CVantrelDlg::CVantrelDlg(COptions& options, const CCacheStore& store, CSystemTray& tray, IUserPrompts& prompts,
                         std::string ownExecutable, QWidget* parent)
    : QDialog(parent), m_options(options), m_store(store), m_tray(tray), m_prompts(prompts),
      m_strOwnExecutable(std::move(ownExecutable)), m_nIconId(kIconWorkHeld),
      m_currentIcon(LoadVantrelIcon(kIconWorkHeld)) {
    setProperty(kControlIdProperty, kDialogId);
    setWindowTitle(Text("Vantrel"));
    setWindowIcon(m_currentIcon);
    // A main window of its own: a task-bar entry and a minimise button, unlike a plain dialog.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    BuildLayout();
    BuildWindowMenu();
    ConnectControls();
    // The area went away with the window hidden in it: back on the task bar, never lost.
    connect(&m_tray, &CSystemTray::trayLost, this, [this] {
        if (m_bMinimized && !m_bEnded && !isVisible())
            showMinimized();
    });
}

CVantrelDlg::~CVantrelDlg() {
    if (m_nWaitCursor > 0)
        QApplication::restoreOverrideCursor();
}

void CVantrelDlg::AttachController(CVantrelController* controller) {
    m_controller = controller;
    if (m_controller != nullptr)
        UpdateTransmitState();
}

void CVantrelDlg::InitDialog(bool startMinimized) {
    m_tray.AddToTray(WM_APP_3, Text("Vantrel"), m_currentIcon, kTrayIconId);
    // Where the window stood when this program directory's copy last ended.
    const QByteArray place = LoadWindowPlace(m_store.GetProgramDir());
    if (!place.isEmpty())
        restoreGeometry(place);
    if (m_controller != nullptr)
        m_controller->OnInitDialog(startMinimized);
    // An empty cache: say where to begin, and begin there.
    if (m_options.DesiredCacheSize == 0) {
        m_emptyCacheHint->show();
        Edit(1000)->setFocus(Qt::OtherFocusReason);
        Edit(1000)->selectAll();
    }
}

QWidget* CVantrelDlg::Control(int id) const {
    auto found = m_controls.find(id);
    return found != m_controls.end() ? found->second : nullptr;
}

QLineEdit* CVantrelDlg::Edit(int id) const {
    return qobject_cast<QLineEdit*>(Control(id));
}

void CVantrelDlg::ConnectControls() {
    // The handler is called through a std::function: a member-function pointer captured in a
    // slot lambda is miscompiled by GCC 12 with -fsanitize=undefined (the lambda sees a wrong this).
    auto connectCheckBox = [this](int id, std::function<void(CVantrelController&, bool)> handler) {
        connect(qobject_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this,
                [this, handler = std::move(handler)](bool checked) {
                    if (m_controller != nullptr)
                        handler(*m_controller, checked);
                });
    };
    connectCheckBox(1012, &CVantrelController::OnHideProcessing);
    connectCheckBox(1031, &CVantrelController::OnAutoTransmit);
    connectCheckBox(1054, &CVantrelController::OnDisplayTransmit);
    connectCheckBox(1052, &CVantrelController::OnUseColon);
    connectCheckBox(1040, &CVantrelController::OnMonitorProgress);
    connectCheckBox(1041, &CVantrelController::OnUseSpy);
    connectCheckBox(1045, &CVantrelController::On24HourClock);
    connectCheckBox(1046, &CVantrelController::OnCreateLog);
    connectCheckBox(1053, &CVantrelController::OnSetAffinity);
    connectCheckBox(kNotifyControlId, &CVantrelController::OnNotifyProblems);

    auto connectRadio = [this](int id, auto onChecked) {
        auto* radio = qobject_cast<QAbstractButton*>(Control(id));
        connect(radio, &QAbstractButton::clicked, this, [this, onChecked](bool checked) {
            if (m_controller != nullptr && checked)
                onChecked(*m_controller);
        });
    };
    connectRadio(1013, [](CVantrelController& c) { c.OnServerMode(SM_NONE); });
    connectRadio(1014, [](CVantrelController& c) { c.OnServerMode(SM_PROXY); });
    connectRadio(1015, [](CVantrelController& c) { c.OnServerMode(SM_SOCKS); });
    connectRadio(1048, [](CVantrelController& c) { c.OnClientPriority(CP_LOW); });
    connectRadio(1050, [](CVantrelController& c) { c.OnClientPriority(CP_NORMAL); });
    connectRadio(1049, [](CVantrelController& c) { c.OnClientPriority(CP_HIGH); });

    // Only the user's edits: the fields shown by ShowFields must not call back into the logic.
    connect(Edit(1019), &QLineEdit::textEdited, this, [this] {
        if (m_controller != nullptr)
            m_controller->OnPortChanged();
    });
    for (int id : {1000, 1004, 1019})
        Edit(id)->installEventFilter(this);

    auto connectButton = [this](int id, auto onClick) {
        connect(qobject_cast<QPushButton*>(Control(id)), &QPushButton::clicked, this, [this, onClick] {
            if (m_controller != nullptr)
                onClick(*m_controller);
        });
    };
    connectButton(1026, [](CVantrelController& c) { c.OnUpdateProgressNow(); });
    connectButton(1051, [](CVantrelController& c) { c.OnSaveConfig(); });
    connectButton(1008, [](CVantrelController& c) { c.OnTransmit(); });
    connectButton(1007, [](CVantrelController& c) { c.Exit(); });
    connectButton(1028, [this](CVantrelController&) { OnNewClient(); });
}

bool CVantrelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FocusOut || m_controller == nullptr || m_bEnded || m_nPromptDepth > 0)
        return QDialog::eventFilter(watched, event);
    // The field's own context menu takes the focus only for a moment; the edit has not ended.
    if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason)
        return QDialog::eventFilter(watched, event);
    if (watched == Edit(1000))
        m_controller->ApplyDesiredCacheSize();
    else if (watched == Edit(1004))
        m_controller->ApplyMaxProcesses();
    else if (watched == Edit(1019))
        m_controller->OnPortChanged();
    return QDialog::eventFilter(watched, event);
}

// --- IDialogView ---

bool CVantrelDlg::ReadFields() {
    QLineEdit* refused = CopyFields();
    if (refused == nullptr)
        return true;
    RefuseField(refused);
    return false;
}

void CVantrelDlg::ReadFieldsQuietly() {
    CopyFields();
}

void CVantrelDlg::ShowNotice(const std::string& text) {
    m_notice->setText(QString::fromStdString(text));
    m_notice->setVisible(!text.empty());
}


QLineEdit* CVantrelDlg::CopyFields() {
    QLineEdit* refused = nullptr;
    auto readNumber = [this, &refused](int id, auto parse, unsigned& option) {
        QLineEdit* edit = Edit(id);
        if (auto value = parse(edit->text().toStdString()))
            option = *value;
        else if (refused == nullptr)
            refused = edit;
    };
    readNumber(1004, ParseMaxProcessesField, m_options.MaxProcesses);
    readNumber(1000, ParseDesiredCacheSizeField, m_options.DesiredCacheSize);
    readNumber(1019, ParseNumberField, m_options.ServerPort);
    m_options.ServerHost = Edit(1018)->text().toStdString();
    m_options.SocksUser = Edit(1020)->text().toStdString();
    m_options.SocksPassword = Edit(1021)->text().toStdString();
    return refused;
}

bool CVantrelDlg::FieldsAcceptable() const {
    return ParseMaxProcessesField(Edit(1004)->text().toStdString()) &&
           ParseNumberField(Edit(1000)->text().toStdString()) && ParseNumberField(Edit(1019)->text().toStdString());
}

void CVantrelDlg::RefuseField(QLineEdit* edit) {
    ++m_nPromptDepth;
    // Out of sight the user could neither read the message against its field nor correct it.
    if (!isVisible() || isMinimized())
        RestoreWindow();
    // The handler that read the fields may show the wait cursor; not over a question to the user.
    if (m_nWaitCursor > 0)
        QApplication::restoreOverrideCursor();
    m_prompts.ShowMessage(this, EMessageKind::Warning, Text(kPositiveIntegerMessage));
    if (m_nWaitCursor > 0)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    --m_nPromptDepth;
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

void CVantrelDlg::SetEditText(int id, const QString& text) {
    QLineEdit* edit = Edit(id);
    // Setting the same text again would only wipe the field's undo history.
    if (edit->text() != text)
        edit->setText(text);
}

void CVantrelDlg::SetChecked(int id, bool checked) {
    qobject_cast<QAbstractButton*>(Control(id))->setChecked(checked);
}

void CVantrelDlg::ShowFields() {
    if (m_options.DesiredCacheSize > 0)
        m_emptyCacheHint->hide();
    SetEditText(1004, Number(m_options.MaxProcesses));
    SetEditText(1000, Number(m_options.DesiredCacheSize));
    SetEditText(1018, QString::fromStdString(m_options.ServerHost));
    SetEditText(1019, Number(m_options.ServerPort));
    SetEditText(1020, QString::fromStdString(m_options.SocksUser));
    SetEditText(1021, QString::fromStdString(m_options.SocksPassword));
    if (m_controller != nullptr) {
        const CacheCounters& counters = m_controller->Counters();
        const std::pair<int, unsigned> shown[] = {{1001, counters.CurrentCacheSize},
                                                  {1011, counters.ProcessingCount},
                                                  {1003, counters.WaitingToProcess},
                                                  {1002, counters.ReadyToTransmit},
                                                  {1032, counters.NeedToFill}};
        for (const auto& [id, value] : shown)
            qobject_cast<QLabel*>(Control(id))->setText(Number(value));
    }
    SetChecked(1012, m_options.HideProcessing);
    SetChecked(1031, m_options.AutoTransmit);
    SetChecked(1054, m_options.DisplayTransmit);
    SetChecked(1052, m_options.UseColon);
    SetChecked(1040, m_options.MonitorProgress);
    SetChecked(1041, m_options.UseSpy);
    SetChecked(1045, m_options.Use24HourClock);
    SetChecked(1046, m_options.CreateLog);
    SetChecked(1053, m_options.SetAffinity);
    SetChecked(kNotifyControlId, m_options.NotifyProblems);
    const EServerMode mode = m_options.ServerMode;
    SetChecked(mode == SM_PROXY ? 1014 : mode == SM_SOCKS ? 1015 : 1013, true);
    const EClientPriority priority = m_options.ClientPriority;
    SetChecked(priority == CP_NORMAL ? 1050 : priority == CP_HIGH ? 1049 : 1048, true);
}

void CVantrelDlg::SetIcon(unsigned iconId) {
    // Every recount sets the icon; only a change is worth redrawing the window and the tray.
    if (iconId == m_nIconId)
        return;
    m_nIconId = iconId;
    m_currentIcon = LoadVantrelIcon(iconId);
    setWindowIcon(m_currentIcon);
    m_tray.ChangeIcon(m_currentIcon);
}

void CVantrelDlg::SetTrayTip(const std::string& tip) {
    m_strLastTip = tip;
    QString shown = QString::fromStdString(tip);
    if (!m_strCopyLabel.isEmpty() && shown.startsWith(Text("Vantrel")))
        shown.insert(7, QLatin1Char(' ') + m_strCopyLabel);
    m_tray.ChangeTip(shown);
}

QString ShortDirectoryLabel(const std::string& dir, const std::string& home) {
    QString label = PathToQString(dir);
    const QString homeDir = PathToQString(home);
    if (!homeDir.isEmpty() && (label == homeDir || label.startsWith(homeDir + QLatin1Char('/'))))
        label = QLatin1Char('~') + label.mid(homeDir.size());
    constexpr qsizetype kMaxLabel = 30;
    if (label.size() > kMaxLabel)
        label = QStringLiteral("...") + label.right(kMaxLabel - 3);
    return label;
}

void CVantrelDlg::ShowProgramDirectory(const std::string& dir) {
    const char* home = std::getenv("HOME");
    m_strCopyLabel = ShortDirectoryLabel(dir, home != nullptr ? home : "");
    setWindowTitle(Text("Vantrel - ") + m_strCopyLabel);
    SetTrayTip(m_strLastTip.empty() ? std::string("Vantrel") : m_strLastTip);
}

void CVantrelDlg::ShowProgress(const ProgressFigures& figures) {
    qobject_cast<QLabel*>(Control(1030))->setText(QString::fromStdString(figures.TotalText));
    qobject_cast<QLabel*>(Control(1043))->setText(QString::fromStdString(figures.LeftText));
    qobject_cast<QLabel*>(Control(1044))->setText(QString::fromStdString(figures.CompletionText));
    m_bar->SetPercent(figures.Fraction);
}


void CVantrelDlg::SetWaitCursor(bool on) {
    if (on) {
        if (m_nWaitCursor++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_nWaitCursor > 0 && --m_nWaitCursor == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void CVantrelDlg::PostSysCommand(unsigned command) {
    QMetaObject::invokeMethod(
        this, [this, command] { OnSysCommand(command); }, Qt::QueuedConnection);
}

void CVantrelDlg::EnableServerControls(const ServerControlStates& states) {
    for (const ServerControlState& state : states)
        Control(state.id)->setEnabled(state.enabled);
    SetChecked(kUseColonControlId, m_options.UseColon);
}

void CVantrelDlg::HideAffinityCheckBox() {
    Control(1053)->hide();
}

bool CVantrelDlg::IsMinimized() const {
    return m_bMinimized;
}

void CVantrelDlg::EndDialog() {
    // A window never shown has no place of its own to keep.
    if (!m_bEnded && m_bEverShown)
        SaveWindowPlace(m_store.GetProgramDir(), saveGeometry());
    m_bEnded = true;
    done(QDialog::Accepted);
}

void CVantrelDlg::TransmitStateChanged(bool) {
    // The caption is read from the transmitter when the call arrives, so a late arrival can
    // never leave a stale caption behind.
    QMetaObject::invokeMethod(
        this, [this] { UpdateTransmitState(); }, Qt::QueuedConnection);
}

void CVantrelDlg::UpdateTransmitState() {
    if (m_controller == nullptr)
        return;
    m_transmitButton->setText(Text(m_controller->TransmitCaption()));
    m_transmitAction->setEnabled(!m_controller->TransmitRunning());
}


bool CVantrelDlg::event(QEvent* event) {
    if (event->type() == QEvent::Show)
        m_bEverShown = true;
    return QDialog::event(event);
}

// --- Commands, minimising and closing ---

void CVantrelDlg::OnTrayCommand(unsigned commandId) {
    switch (commandId) {
    case ID_SYSTRAY_RESTORE:
        PostSysCommand(SC_RESTORE);
        break;
    case ID_SYSTRAY_MINIMIZE:
        PostSysCommand(SC_MINIMIZE);
        break;
    case ID_SYSTRAY_ABOUT:
        PostSysCommand(kAboutCommand);
        break;
    case ID_SYSTRAY_TRANSMIT:
        if (m_controller != nullptr)
            m_controller->OnTransmit();
        break;
    case ID_SYSTRAY_SAVECONFIG:
        if (m_controller != nullptr)
            m_controller->OnSaveConfig();
        break;
    case ID_SYSTRAY_EXIT:
        if (m_controller != nullptr)
            m_controller->Exit();
        break;
    case ID_SYSTRAY_STATISTICS:
        ShowStatistics();
        break;
    default:
        break;
    }
}

void CVantrelDlg::OnSysCommand(unsigned command) {
    if (m_bEnded)
        return;
    switch (command & 0xFFF0u) {
    case kAboutCommand:
        ShowAbout();
        break;
    case kTransmitCommand:
        if (m_controller != nullptr)
            m_controller->OnTransmit();
        break;
    case kStatisticsCommand:
        ShowStatistics();
        break;
    case SC_MINIMIZE:
        MinimizeWindow();
        break;
    case SC_CLOSE:
        PostSysCommand(SC_MINIMIZE);
        break;
    case SC_RESTORE:
        RestoreWindow();
        break;
    default:
        break;
    }
}

void CVantrelDlg::MinimizeWindow() {
    m_bMinimized = true;
    // Hidden only where the tray icon gives a way back; else on the task bar.
    const bool inTray = m_tray.UpdateTrayPresence();
    if (inTray)
        hide();
    else if (!isMinimized() || !isVisible())
        showMinimized();
    m_tray.WatchPresence(inTray);
    m_tray.SetDefaultItem(ID_SYSTRAY_RESTORE, false);
}

void CVantrelDlg::RestoreWindow() {
    m_bMinimized = false;
    m_tray.WatchPresence(false);
    m_tray.UpdateTrayPresence();
    // Back as it was: maximised when it was (showNormal would drop that).
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    m_tray.SetDefaultItem(ID_SYSTRAY_MINIMIZE, false);
}

void CVantrelDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || m_bEnded)
        return;
    const bool minimized = (windowState() & Qt::WindowMinimized) != 0;
    if (minimized && !m_bMinimized) {
        // Minimised by the window manager (title bar, task bar): into the tray as by command.
        PostSysCommand(SC_MINIMIZE);
    } else if (!minimized && m_bMinimized && isVisible()) {
        // Restored from the task bar.
        m_bMinimized = false;
        m_tray.SetDefaultItem(ID_SYSTRAY_MINIMIZE, false);
    }
}

void CVantrelDlg::closeEvent(QCloseEvent* event) {
    // The title-bar close (and the window manager's close, which X11 cannot tell from it) only
    // minimises; the program ends by Exit or when the session or the application quits.
    if (m_bEnded || m_bCloseAllowed) {
        event->accept();
        return;
    }
    event->ignore();
    PostSysCommand(SC_CLOSE);
}

void CVantrelDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter on a button presses it; anywhere else it is the dialog's OK.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
            return;
        }
        accept();
        return;
    case Qt::Key_Escape:
        reject();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CVantrelDlg::accept() {
    if (m_controller != nullptr && !m_bEnded)
        m_controller->OnEnter();
}

void CVantrelDlg::reject() {
    Edit(1004)->undo();
    Edit(1000)->undo();
}

void CVantrelDlg::contextMenuEvent(QContextMenuEvent* event) {
    m_windowMenu->exec(event->globalPos());
}

void CVantrelDlg::ShowAbout() {
    // Modal for the dialog only: the tray icon and its menu keep working while it is open.
    CAboutDlg about(this);
    about.setWindowModality(Qt::WindowModal);
    about.exec();
}

void CVantrelDlg::ShowStatistics() {
    if (m_statistics == nullptr)
        m_statistics = new CStatisticsWnd(m_store.GetProgramDir(), m_prompts, this);
    else if (!m_statistics->isVisible())
        m_statistics->Reload();
    m_statistics->showNormal();
    m_statistics->raise();
    m_statistics->activateWindow();
}

void CVantrelDlg::OnNewClient() {
    const std::string programDir = m_store.GetProgramDir();
    for (;;) {
        std::string chosen = AskForNewClient(m_prompts, this, programDir);
        if (chosen.empty() || m_controller == nullptr)
            return;
        // The program itself would start copies of itself as its client.
        if (platform::IsSameFile(chosen, m_strOwnExecutable) ||
            EqualsIgnoringCase(platform::FileNamePart(chosen), platform::FileNamePart(m_strOwnExecutable))) {
            m_prompts.ShowMessage(this, EMessageKind::Information, Text(kOwnProgramChosenMessage));
            continue;
        }
        // The installed client again: nothing to install, so no client is stopped for it.
        if (platform::IsSameFile(chosen, m_store.GetClientPath()))
            return;
        m_controller->NewClient(chosen);
        return;
    }
}

} // namespace vantrel
