#include "ui/vantreldlg.h"

#include "control/trayrules.h"
#include "core/cachestore.h"
#include "core/optiontext.h"
#include "platform/fileops.h"
#include "ui/aboutdlg.h"
#include "ui/clientchooser.h"
#include "ui/percentbar.h"
#include "ui/statisticswnd.h"
#include "ui/systemtray.h"
#include "ui/windowplace.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <cstdlib>
#include <utility>

namespace vantrel {

namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text);
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
        Edit(IDC_DESIRED_CACHE_SIZE)->setFocus(Qt::OtherFocusReason);
        Edit(IDC_DESIRED_CACHE_SIZE)->selectAll();
    }
}

// --- IDialogView ---

void CVantrelDlg::ShowNotice(const std::string& text) {
    m_notice->setText(QString::fromStdString(text));
    m_notice->setVisible(!text.empty());
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
    Edit(IDC_MAX_PROCESSES)->undo();
    Edit(IDC_DESIRED_CACHE_SIZE)->undo();
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
