#include "ui/vantrelapp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "control/trayrules.h"
#include "control/vantrelcontroller.h"
#include "host/messagechannel.h"
#include "platform/fileops.h"
#include "ui/commandline.h"
#include "ui/vantreldlg.h"

namespace vantrel {

namespace {

// The toolkit ends the process with a core dump and a page of text when it cannot open the
// display; the user gets our line, the first line of each thing the toolkit said on the way (its
// reason), and exit code 1 instead. Other messages of the start are kept and handed on once the
// application exists.
std::vector<std::pair<QtMsgType, QString>>* g_startMessages = nullptr;

void StartMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        auto said = [](const QString& what) {
            std::cerr << "vantrel: the toolkit said: " << what.section(u'\n', 0, 0).toStdString() << "\n";
        };
        std::cerr << NoDisplayMessage() << "\n";
        if (g_startMessages != nullptr) {
            for (const auto& earlier : *g_startMessages)
                said(earlier.second);
        }
        said(text);
        std::cerr.flush();
        std::_Exit(1);
    }
    if (g_startMessages != nullptr)
        g_startMessages->emplace_back(type, text);
}

std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv) {
    std::vector<std::pair<QtMsgType, QString>> messages;
    g_startMessages = &messages;
    QtMessageHandler previous = qInstallMessageHandler(&StartMessageHandler);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    g_startMessages = nullptr;
    for (const auto& [type, text] : messages) {
        if (type == QtWarningMsg)
            qWarning("%s", qUtf8Printable(text));
        else if (type == QtCriticalMsg)
            qCritical("%s", qUtf8Printable(text));
    }
    return app;
}

} // namespace

CVantrelApp::CVantrelApp(int& argc, char** argv, AppEnvironment environment)
    : m_env(std::move(environment)), m_strArgv0(argc > 0 && argv[0] != nullptr ? argv[0] : "") {
    if (QCoreApplication::instance() == nullptr)
        m_app = MakeApplication(argc, argv);
    // The arguments after the toolkit has taken its own out of argv.
    if (m_env.arguments)
        m_arguments = *m_env.arguments;
    else
        m_arguments.assign(argv + std::min(argc, 1), argv + argc);
    ConfigureApplication();
}

CVantrelApp::~CVantrelApp() {
    TearDown();
    qApp->removeEventFilter(this);
    QApplication::setQuitOnLastWindowClosed(m_bPreviousQuitOnLastWindowClosed);
}

void CVantrelApp::ConfigureApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    // Lets a Wayland compositor match the window and its icon with vantrel.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("vantrel"));
    QApplication::setWindowIcon(LoadVantrelIcon(kIconWorkHeld));
    // The dialog hides in the tray and boxes close while it is hidden: only Exit ends the program.
    m_bPreviousQuitOnLastWindowClosed = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    // The application quitting (the session's end arrives as that) ends the program like Exit.
    qApp->installEventFilter(this);
}

bool CVantrelApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::Quit)
        EndFromOutside();
    return QObject::eventFilter(watched, event);
}

std::optional<int> CVantrelApp::StartUp() {
    IUserPrompts& prompts = m_env.prompts != nullptr ? *m_env.prompts : m_qtPrompts;
    m_pump = std::make_unique<CEnginePump>();
    m_channel = std::make_unique<CLocalCopyChannel>(m_env.channelDirectory);
    m_stopRequests = std::make_unique<CSignalStop>();

    ProgramFrontEnd frontEnd(*m_pump);
    frontEnd.executable = m_env.executablePath;
    frontEnd.argv0 = m_strArgv0;
    frontEnd.arguments = m_arguments;
    frontEnd.channel = m_channel.get();
    frontEnd.stopRequests = m_stopRequests.get();
    frontEnd.timings = m_env.timings;
    frontEnd.makeChooser = [&prompts](const StartPlace& place) {
        // An installed copy keeps its cache away from its executable.
        const bool installed = !IsSameDirectory(place.where.directory, platform::DirectoryPart(place.executable));
        return std::make_unique<CClientChooser>(prompts, installed, place.where.fileName);
    };
    frontEnd.reportStartFailure = [&prompts](const std::string& why) {
        const QString message = QString::fromStdString(why);
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        prompts.ShowMessage(nullptr, EMessageKind::Error, message);
    };
    frontEnd.presentNotice = [this](const ProblemNotice& notice) {
        if (m_tray != nullptr)
            m_tray->ShowMessage(QString::fromStdString(notice.Title), QString::fromStdString(notice.Text));
    };
    frontEnd.makeView = [this, &prompts](CProgramSession& session) -> IDialogView* {
        m_tray = std::make_unique<CSystemTray>(m_env.trayProbe);
        m_dialog = std::make_unique<CVantrelDlg>(session.Options(), *session.Store(), *m_tray, prompts,
                                                 session.Place().executable);
        connect(m_tray.get(), &CSystemTray::commandChosen, m_dialog.get(), &CVantrelDlg::OnTrayCommand);
        connect(m_dialog.get(), &QDialog::finished, this, [] { QCoreApplication::exit(0); });
        return m_dialog.get();
    };
    // No show command reaches a program here; "-min" asks for a minimised start.
    frontEnd.initDialog = [this](CVantrelController& controller) {
        m_dialog->AttachController(&controller);
        m_dialog->InitDialog(false);
    };
    m_session = std::make_unique<CProgramSession>(std::move(frontEnd));
    return m_session->Start();
}

int CVantrelApp::Run() {
    if (std::optional<int> code = StartUp()) {
        TearDown();
        return *code;
    }
    if (m_env.onStarted)
        m_env.onStarted(*this);
    if (!m_session->HasEnded())
        QApplication::exec();
    // The loop ended without Exit (quit from elsewhere): end as Exit would.
    EndFromOutside();
    TearDown();
    return 0;
}

void CVantrelApp::EndFromOutside() {
    if (m_session != nullptr)
        m_session->EndFromOutside();
}

void CVantrelApp::TearDown() {
    if (m_session != nullptr)
        m_session->Shutdown();
    if (m_dialog != nullptr)
        m_dialog->AttachController(nullptr);
    m_session.reset();
    m_dialog.reset();
    m_tray.reset();
    m_stopRequests.reset();
    m_channel.reset();
    m_pump.reset();
}

CCacheStore* CVantrelApp::Store() const {
    return m_session != nullptr ? m_session->Store() : nullptr;
}

CMessageChannel* CVantrelApp::Channel() const {
    return m_channel != nullptr ? m_channel->Channel() : nullptr;
}

CVantrelController* CVantrelApp::Controller() const {
    return m_session != nullptr ? m_session->Controller() : nullptr;
}

const COptions& CVantrelApp::Options() const {
    static const COptions none;
    return m_session != nullptr ? m_session->Options() : none;
}

} // namespace vantrel
