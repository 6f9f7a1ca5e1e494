#include "ui/vantrelapp.h"

#include "core/configfile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/enginecontext.h"
#include "engine/messagetarget.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/programdir.h"
#include "platform/system.h"
#include "control/programdirlock.h"
#include "control/trayrules.h"
#include "control/vantrelcontroller.h"
#include "ui/host/headlessapp.h"
#include "ui/host/messagechannel.h"
#include "ui/host/problemnotices.h"
#include "ui/host/programstart.h"
#include "ui/host/signalwatch.h"
#include "ui/host/statusquery.h"
#include "ui/aboutdlg.h"
#include "ui/vantreldlg.h"

namespace vantrel {

namespace {

constexpr int kUsageErrorCode = 2;
constexpr std::string_view kProgramDirOption = "--program-dir";

std::optional<unsigned> ParseMessageNumber(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string CopiesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " running copy" : " running copies");
}

// `--post N [--program-dir DIR]`: every copy, or the one copy working in DIR.
int PostFromCommandLine(int argc, char** argv, int index) {
    std::optional<unsigned> wParam;
    if (index + 1 < argc)
        wParam = ParseMessageNumber(argv[index + 1]);
    if (!wParam) {
        std::cerr << "vantrel: --post needs a number from 0 to 4294967295\n";
        return kUsageErrorCode;
    }
    ChannelRequest request{std::to_string(*wParam), {}};
    for (int i = index + 2; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == kProgramDirOption && i + 1 < argc) {
            request.programDir = argv[++i];
        } else if (word.starts_with(std::string(kProgramDirOption) + "=")) {
            request.programDir = std::string(word.substr(kProgramDirOption.size() + 1));
        } else {
            std::cerr << "vantrel: --post takes only --program-dir DIR after its number, not \"" << word << "\"\n";
            return kUsageErrorCode;
        }
    }
    if (!request.programDir.empty() && !platform::IsDirectory(request.programDir)) {
        std::cerr << "vantrel: " << request.programDir << " is not a directory\n";
        return kUsageErrorCode;
    }
    // The local sockets need the toolkit's core; no display is opened.
    std::unique_ptr<QCoreApplication> core;
    if (QCoreApplication::instance() == nullptr)
        core = std::make_unique<QCoreApplication>(argc, argv);
    std::size_t reached = 0;
    std::vector<std::string> refused;
    for (const CopyAnswer& answer : SendToAllCopies(GetChannelDirectory(), request)) {
        if (answer.reply == EChannelReply::Other)
            continue;
        ++reached;
        if (answer.reply == EChannelReply::Refused)
            refused.push_back(answer.programDir);
    }
    if (reached == 0) {
        std::cerr << "vantrel: no running Vantrel"
                  << (request.programDir.empty() ? std::string() : " in " + request.programDir) << " was reached\n";
        return 1;
    }
    std::cout << "vantrel: reached " << CopiesText(reached) << "\n";
    for (const std::string& dir : refused)
        std::cerr << "vantrel: the copy in " << dir
                  << " refused: a number field in its window holds a value it cannot take; correct it there\n";
    return refused.empty() ? 0 : 1;
}

// The headless program lies beside this one, or in the package's libexec folder; it replaces this
// process, so none of the toolkit's graphical libraries stay loaded.
int BecomeHeadless(char** argv) {
    const std::string own = platform::GetOwnExecutablePath();
    const std::string dir = platform::DirectoryPart(own);
    std::vector<std::string> candidates = {platform::JoinPath(dir, "vantrel-headless"),
                                           platform::JoinPath(dir, "../libexec/vantrel/vantrel-headless")};
    ::setenv(kProgramFileVariable, own.c_str(), 1);
    for (const std::string& candidate : candidates) {
        if (!platform::IsExecutableFile(candidate))
            continue;
        platform::ReplaceCurrentProgram(candidate, argv);
        std::cerr << "vantrel: cannot start the headless program " << candidate << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::cerr << "vantrel: the headless program (vantrel-headless) is not installed beside " << own << "\n";
    return 1;
}

bool IsHelpOption(std::string_view word) {
    return word == "--help" || word == "-h";
}

} // namespace

std::string UsageText() {
    return "Usage: vantrel [KEYWORD...]\n"
           "       vantrel --headless [KEYWORD...]\n"
           "       vantrel --post N [--program-dir DIR]\n"
           "       vantrel --status [--json | --prometheus] [--program-dir DIR]\n"
           "       vantrel --help | -h | --version\n"
           "\n"
           "Keeps a cache of ORVA work units in numbered directories of its program directory and drives\n"
           "the ORVA command-line client found there (or chosen at start). The program directory is the\n"
           "one the program lies in, or ~/.local/share/vantrel for an installed copy. Keywords may also\n"
           "stand one per line in the configuration file there (the program's name with \".cfg\"); the\n"
           "command line comes first. Keywords are found in any case. One copy runs per program\n"
           "directory: a second start there shows the running copy's window and exits.\n"
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
           "                           (16 ends them); says how many it reached\n"
           "  --program-dir DIR        with --post: only the copy working in DIR; with --status: the\n"
           "                           copy of DIR (default: this program's program directory)\n"
           "  --headless               run without a window, a tray or a display (for a server);\n"
           "                           ends on SIGTERM, SIGINT or --post 16; cannot ask for a client\n"
           "  --status                 print the counters, the watched work unit, the transmit passes\n"
           "                           and the retry timer of the copy running in the program directory\n"
           "  --json, --prometheus     with --status: one JSON object, or Prometheus' text format\n"
           "  --help, -h               show this text and exit\n"
           "  --version                show the version and exit\n"
           "\n"
           "Exit codes: 0 done; 1 no client chosen (or none to use without a window), no display, another\n"
           "copy runs, --post reached no copy or a copy refused, or --status reached a copy that did not\n"
           "answer; 2 a mistyped command line; 3 --status found no copy running (it prints what the disk\n"
           "shows).\n"
           "\n"
           "Environment:\n"
           "  VANTREL_TIME_SCALE       factor for every duration the program waits (default 1)\n"
           "  VANTREL_PROGRAM_DIR      the program directory, named outright\n";
}

std::optional<int> RunCommandLineRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (IsHelpOption(word)) {
            std::cout << UsageText();
            return 0;
        }
        if (word == "--version") {
            std::cout << FormatVersionLine(CompiledVersion()).toStdString() << "\n";
            return 0;
        }
        if (word == "--post")
            return PostFromCommandLine(argc, argv, i);
        if (word == "--status")
            return StatusFromCommandLine(argc, argv);
    }
    // Keywords have one dash; a word with two is a mistyped or unknown option, never a keyword.
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--headless") {
            headless = true;
        } else if (word.starts_with("--") && word.size() > 2) {
            std::cerr << "vantrel: unknown option " << word << " (vantrel --help lists the options)\n";
            return kUsageErrorCode;
        }
    }
    if (headless)
        return BecomeHeadless(argv);
    return std::nullopt;
}

std::optional<int> CheckDisplay(int argc, char** argv) {
    std::string platformName;
    if (const char* fromEnv = std::getenv("QT_QPA_PLATFORM"))
        platformName = fromEnv;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0)
            platformName = argv[i + 1];
    }
    auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    bool missing = false;
    if (platformName.empty())
        missing = !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY");
    else if (platformName.starts_with("xcb"))
        missing = !isSet("DISPLAY");
    if (!missing)
        return std::nullopt;
    std::cerr << NoDisplayMessage() << "\n";
    return 1;
}

std::string NoDisplayMessage() {
    const char* display = std::getenv("DISPLAY");
    std::string which = display != nullptr && *display != '\0' ? std::string("the display ") + display
                                                                : std::string("a display (DISPLAY is not set)");
    return "vantrel: cannot open " + which + "; Vantrel needs a graphical desktop session";
}

namespace {

// The toolkit ends the process with a core dump and a page of text when it cannot open the
// display; the user gets one line and exit code 1 instead. Other messages of the start are kept
// and handed on once the application exists.
std::vector<std::pair<QtMsgType, QString>>* g_startMessages = nullptr;

void StartMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        std::cerr << NoDisplayMessage() << std::endl;
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
    const StartPlace place = FindStartPlace(m_env.executablePath, m_strArgv0);
    if (!place.error.empty()) {
        const QString message = QString::fromStdString(place.error);
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        prompts.ShowMessage(nullptr, EMessageKind::Error, message);
        return 1;
    }
    m_strExecutable = place.executable;
    const platform::ProgramLocation& where = place.where;
    const std::string programPath = platform::JoinPath(where.directory, where.fileName);

    // One copy per program directory, decided before the cache is touched: a second copy would
    // stop the first one's clients and start its own beside them.
    switch (m_lock.Acquire(where.directory)) {
    case CProgramDirLock::EResult::Taken:
        break;
    case CProgramDirLock::EResult::HeldByOther:
        if (std::optional<int> code = HandOver(where.directory))
            return code;
        break;
    case CProgramDirLock::EResult::Unavailable:
        // Nothing can be kept in such a directory either; the program says why as it goes.
        std::cerr << LockUnavailableMessage(where.directory) << "\n";
        break;
    }

    // The client is chosen before any window exists; a cancelled choice ends the program here.
    m_store = std::make_unique<CCacheStore>(where.directory, where.fileName, m_slots);
    // An installed copy keeps its cache away from its executable.
    const bool installed = !IsSameDirectory(where.directory, platform::DirectoryPart(m_strExecutable));
    CClientChooser chooser(prompts, installed, where.fileName);
    if (!m_store->SelectClientAtStartup(chooser))
        return 1;
    m_tray = std::make_unique<CSystemTray>(m_env.trayProbe);

    m_channel = std::make_unique<CMessageChannel>(m_env.channelDirectory.empty() ? GetChannelDirectory()
                                                                                 : m_env.channelDirectory);
    m_channel->SetProgramDirectory(where.directory);
    // Without a channel the program runs on; only other programs cannot reach it.
    m_channel->Listen();

    const Timings timings = m_env.timings.value_or(Timings::FromEnvironment());
    m_notices = std::make_unique<CProblemNotices>(m_options, timings, [this](const ProblemNotice& notice) {
        m_tray->ShowMessage(QString::fromStdString(notice.Title), QString::fromStdString(notice.Text));
    });
    m_dialog = std::make_unique<CVantrelDlg>(m_options, *m_store, *m_tray, prompts, m_strExecutable);
    m_ctx = std::make_unique<CEngineContext>(*m_store, m_slots, m_options, timings, *m_dialog);
    m_ctx->events = m_notices.get();
    m_controller =
        std::make_unique<CVantrelController>(*m_ctx, *m_dialog, m_arguments, GetConfigurationPath(programPath));
    m_dialog->AttachController(m_controller.get());

    connect(m_tray.get(), &CSystemTray::commandChosen, m_dialog.get(), &CVantrelDlg::OnTrayCommand);
    ConnectChannel();
    connect(m_dialog.get(), &QDialog::finished, this, [] { QCoreApplication::exit(0); });
    m_signals = std::make_unique<CSignalWatch>([this] { EndFromOutside(); });

    // No show command reaches a program here; "-min" asks for a minimised start.
    m_dialog->InitDialog(false);
    return std::nullopt;
}

void CVantrelApp::ConnectChannel() {
    // The sender learns at once whether the exit will happen: a field the user left invalid
    // keeps this copy open (it shows the refusal, as Exit does).
    m_channel->SetRequestJudge([this](const ChannelRequest& request) {
        if (request.command == std::to_string(kExitRequest) && m_dialog != nullptr && !m_dialog->HasEnded() &&
            !m_dialog->FieldsAcceptable())
            return EChannelReply::Refused;
        return EChannelReply::Done;
    });
    ServeChannel(*m_channel, *m_dialog, [this] { return m_controller.get(); }, m_dialog->Pump());
    connect(m_channel.get(), &CMessageChannel::ShowRequested, m_dialog.get(),
            [this] { m_dialog->PostSysCommand(SC_RESTORE); });
    // With two copies running, each names its program directory, so the user can tell them apart.
    connect(m_channel.get(), &CMessageChannel::CopyStarted, m_dialog.get(), [this](const QString& dir) {
        if (!IsSameDirectory(PathFromQString(dir), m_store->GetProgramDir()))
            m_dialog->ShowProgramDirectory(m_store->GetProgramDir());
    });
    if (!m_channel->IsListening())
        return;
    for (const CopyAnswer& answer : SendToAllCopies(m_channel->Directory(), {kHelloCommand, m_store->GetProgramDir()},
                                                    m_channel->SocketPath())) {
        if (answer.reply == EChannelReply::Done && !answer.programDir.empty() &&
            !IsSameDirectory(answer.programDir, m_store->GetProgramDir()))
            m_dialog->ShowProgramDirectory(m_store->GetProgramDir());
    }
}

std::optional<int> CVantrelApp::HandOver(const std::string& programDir) {
    const std::string channelDir = m_env.channelDirectory.empty() ? GetChannelDirectory() : m_env.channelDirectory;
    // The running copy listens once its client is chosen; a copy that has just ended lets go
    // of the lock, and this start then runs after all.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        for (const CopyAnswer& answer : SendToAllCopies(channelDir, {kShowCommand, programDir})) {
            if (answer.reply == EChannelReply::Done) {
                std::cout << "vantrel: Vantrel already runs in " << programDir << "; its window is shown\n";
                return 0;
            }
            if (answer.reply == EChannelReply::Refused) {
                std::cerr << "vantrel: Vantrel already runs in " << programDir
                          << " without a window (vantrel --headless); not started again\n";
                return 1;
            }
        }
        if (m_lock.Acquire(programDir) == CProgramDirLock::EResult::Taken)
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const pid_t holder = CProgramDirLock::ReadHolder(programDir);
    std::cerr << "vantrel: another Vantrel"
              << (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) << " runs in "
              << programDir << " and does not answer (is it asking for its client?); not started again\n";
    return 1;
}

int CVantrelApp::Run() {
    if (std::optional<int> code = StartUp()) {
        TearDown();
        return *code;
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
    m_notices.reset();
    m_tray.reset();
    m_store.reset();
    m_lock.Release();
}

} // namespace vantrel
