#include "ui/vantrelapp.h"

#include "core/configfile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string_view>
#include <unistd.h>

#include "engine/enginecontext.h"
#include "engine/messagetarget.h"
#include "platform/fileops.h"
#include "platform/programdir.h"
#include "platform/system.h"
#include "ui/messagechannel.h"
#include "ui/trayrules.h"
#include "ui/vantrelcontroller.h"
#include "ui/vantreldlg.h"

namespace vantrel {

namespace {

constexpr int kUsageErrorCode = 2;

std::optional<unsigned> ParseMessageNumber(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

int PostFromCommandLine(int argc, char** argv, int index) {
    std::optional<unsigned> wParam;
    if (index + 1 < argc)
        wParam = ParseMessageNumber(argv[index + 1]);
    if (!wParam) {
        std::cerr << "vantrel: --post needs a number from 0 to 4294967295\n";
        return kUsageErrorCode;
    }
    // The local sockets need the toolkit's core; no display is opened.
    std::unique_ptr<QCoreApplication> core;
    if (QCoreApplication::instance() == nullptr)
        core = std::make_unique<QCoreApplication>(argc, argv);
    PostToAllCopies(GetChannelDirectory(), *wParam);
    return 0;
}

} // namespace

std::string UsageText() {
    return "Usage: vantrel [KEYWORD...]\n"
           "       vantrel --post N\n"
           "       vantrel --help\n"
           "\n"
           "Keeps a cache of ORVA work units in numbered directories of its program directory and drives\n"
           "the ORVA command-line client found there (or chosen at start). The program directory is the\n"
           "one the program lies in, or ~/.local/share/vantrel for an installed copy. Keywords may also\n"
           "stand one per line in the configuration file there (the program's name with \".cfg\"); the\n"
           "command line comes first. Keywords are found in any case.\n"
           "\n"
           "Keywords:\n"
           "  -auto                    transmit by itself when results wait or directories need filling\n"
           "  -min                     start minimised\n"
           "  -nohide                  run processing clients minimised instead of hidden\n"
           "  -DisplayTransmit         show the client of a transmit run\n"
           "  -cpu N                   run up to N processing clients (default: the processor count)\n"
           "  -affinity                bind each processing client to one processor\n"
           "  -runnormal, -runhigh     priority of the watched client (default: low)\n"
           "  -verbose                 show the progress of the watched work unit\n"
           "  -spy, -ORVASpy           copy the watched work unit's files for an outside monitor\n"
           "  -24hr                    show times on the 24-hour clock\n"
           "  -ORVALog                 log every finished result to ORVALog.csv\n"
           "  -proxy HOST[:PORT]       transmit through a proxy server\n"
           "  -socks_server HOST[:PORT]  transmit through a socks server, with\n"
           "  -socks_user NAME, -socks_passwd PASSWORD\n"
           "\n"
           "Other uses:\n"
           "  --post N                 send N to every running Vantrel of this user and exit\n"
           "                           (16 ends them)\n"
           "  --help                   show this text and exit\n"
           "\n"
           "Environment:\n"
           "  VANTREL_TIME_SCALE       factor for every duration the program waits (default 1)\n"
           "  VANTREL_PROGRAM_DIR      the program directory, named outright\n";
}

std::optional<int> RunCommandLineRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::cout << UsageText();
            return 0;
        }
        if (std::strcmp(argv[i], "--post") == 0)
            return PostFromCommandLine(argc, argv, i);
    }
    return std::nullopt;
}

// Turns SIGTERM, SIGINT and SIGHUP into a call on the dialog's thread (a byte through a pipe),
// so a terminated program still ends its clients and threads cleanly. One at a time.
class CVantrelApp::CSignalWatch {
public:
    explicit CSignalWatch(std::function<void()> onSignal) : m_onSignal(std::move(onSignal)) {
        if (::pipe2(m_fds.data(), O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        s_writeFd.store(m_fds[1]);
        m_notifier = std::make_unique<QSocketNotifier>(m_fds[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { Drain(); });
        struct sigaction action {};
        action.sa_handler = &CSignalWatch::Handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], &action, &m_previous[i]);
        m_bInstalled = true;
    }

    ~CSignalWatch() {
        if (m_bInstalled) {
            for (std::size_t i = 0; i < kSignals.size(); ++i)
                ::sigaction(kSignals[i], &m_previous[i], nullptr);
        }
        s_writeFd.store(-1);
        m_notifier.reset();
        for (int fd : m_fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    CSignalWatch(const CSignalWatch&) = delete;
    CSignalWatch& operator=(const CSignalWatch&) = delete;

private:
    static constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

    static void Handler(int) {
        const int saved = errno;
        const int fd = s_writeFd.load();
        if (fd >= 0) {
            const char byte = 1;
            [[maybe_unused]] ssize_t written = ::write(fd, &byte, 1);
        }
        errno = saved;
    }

    void Drain() {
        char buffer[64];
        while (::read(m_fds[0], buffer, sizeof buffer) > 0) {
        }
        m_onSignal();
    }

    static inline std::atomic<int> s_writeFd{-1};
    std::function<void()> m_onSignal;
    std::array<int, 2> m_fds{-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::array<struct sigaction, kSignals.size()> m_previous{};
    bool m_bInstalled = false;
};

CVantrelApp::CVantrelApp(int& argc, char** argv, AppEnvironment environment)
    : m_env(std::move(environment)), m_strArgv0(argc > 0 && argv[0] != nullptr ? argv[0] : "") {
    if (QCoreApplication::instance() == nullptr)
        m_app = std::make_unique<QApplication>(argc, argv);
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

bool CVantrelApp::StartUp() {
    m_strExecutable = m_env.executablePath.empty() ? platform::GetOwnExecutablePath() : m_env.executablePath;
    IUserPrompts& prompts = m_env.prompts != nullptr ? *m_env.prompts : m_qtPrompts;
    if (m_strExecutable.empty()) {
        prompts.ShowMessage(nullptr, EMessageKind::Error,
                            QStringLiteral("Vantrel cannot find its own program file; Exiting!"));
        return false;
    }
    // Beside the executable, or in the user's data directory for an installed copy.
    const platform::ProgramLocation where = platform::ResolveProgramLocation(
        m_env.executablePath.empty() ? m_strArgv0 : m_env.executablePath, m_strExecutable);
    const std::string programPath = platform::JoinPath(where.directory, where.fileName);

    // The client is chosen before any window exists; a cancelled choice ends the program here.
    m_store = std::make_unique<CCacheStore>(where.directory, where.fileName, m_slots);
    CClientChooser chooser(prompts);
    if (!m_store->SelectClientAtStartup(chooser))
        return false;
    m_tray = std::make_unique<CSystemTray>(m_env.trayProbe);

    m_channel = std::make_unique<CMessageChannel>(m_env.channelDirectory.empty() ? GetChannelDirectory()
                                                                                 : m_env.channelDirectory);
    // Without a channel the program runs on; only other programs cannot reach it.
    m_channel->Listen();

    m_dialog = std::make_unique<CVantrelDlg>(m_options, *m_store, *m_tray, prompts, m_strExecutable);
    m_ctx = std::make_unique<CEngineContext>(*m_store, m_slots, m_options,
                                             m_env.timings.value_or(Timings::FromEnvironment()), *m_dialog);
    m_controller =
        std::make_unique<CVantrelController>(*m_ctx, *m_dialog, m_arguments, GetConfigurationPath(programPath));
    m_dialog->AttachController(m_controller.get());

    connect(m_tray.get(), &CSystemTray::commandChosen, m_dialog.get(), &CVantrelDlg::OnTrayCommand);
    connect(m_channel.get(), &CMessageChannel::MessageReceived, m_dialog.get(), [this](unsigned wParam) {
        if (m_controller != nullptr)
            m_controller->OnRegisteredMessage(wParam);
    });
    connect(m_dialog.get(), &QDialog::finished, this, [] { QCoreApplication::exit(0); });
    m_signals = std::make_unique<CSignalWatch>([this] { EndFromOutside(); });

    // No show command reaches a program here; "-min" asks for a minimised start.
    m_dialog->InitDialog(false);
    return true;
}

int CVantrelApp::Run() {
    if (!StartUp()) {
        TearDown();
        return 1;
    }
    if (m_env.onStarted)
        m_env.onStarted(*this);
    if (!m_dialog->HasEnded())
        QApplication::exec();
    // The loop ended without Exit (quit from elsewhere): end as Exit would.
    EndFromOutside();
    m_controller->Shutdown();
    TearDown();
    return 0;
}

void CVantrelApp::EndFromOutside() {
    if (m_dialog == nullptr || m_controller == nullptr || m_dialog->HasEnded())
        return;
    m_dialog->AllowClose();
    m_controller->ShowFields();
    if (!m_controller->Exit())
        m_dialog->EndDialog();
}

void CVantrelApp::TearDown() {
    m_signals.reset();
    if (m_controller != nullptr)
        m_controller->Shutdown();
    if (m_dialog != nullptr)
        m_dialog->AttachController(nullptr);
    m_controller.reset();
    m_ctx.reset();
    m_dialog.reset();
    m_channel.reset();
    m_tray.reset();
    m_store.reset();
}

} // namespace vantrel
