#include "host/headlessapp.h"

#include "core/configfile.h"
#include "engine/enginecontext.h"
#include "host/messagechannel.h"
#include "host/problemnotices.h"
#include "host/programstart.h"
#include "host/signalwatch.h"
#include "platform/fileops.h"
#include "platform/system.h"

#include <QCoreApplication>
#include <cstdlib>
#include <iostream>

namespace vantrel {

namespace {

// No box can ask: the reason goes to stderr and the choice is cancelled, which ends the start.
class CHeadlessChooser final : public IClientChooser {
public:
    std::string AskForClient(const std::string& programDir) override {
        std::cerr << HeadlessNoClientMessage(programDir) << "\n";
        return {};
    }
    void ShowMessage(const std::string& text, bool) override { std::cerr << "vantrel: " << text << "\n"; }
};

// The program file the headless program stands for: the one that started it, else the desktop
// program beside it.
std::string ProgramFile() {
    std::string file;
    if (const char* given = std::getenv(kProgramFileVariable); given != nullptr && *given == '/')
        file = given;
    // Clients started from here need not see it.
    ::unsetenv(kProgramFileVariable);
    if (file.empty()) {
        const std::string own = platform::GetOwnExecutablePath();
        if (!own.empty())
            file = platform::JoinPath(platform::DirectoryPart(own), "vantrel");
    }
    return file;
}

} // namespace

std::string HeadlessNoClientMessage(const std::string& programDir) {
    return "vantrel: without a window Vantrel cannot ask for the ORVA client; put exactly one client (ORVA*.exe, or "
           "one whose name holds CMDLINE) into " +
           programDir + ", or start the desktop program there once and choose it";
}

CHeadlessApp::CHeadlessApp(int& argc, char** argv) : m_strArgv0(argc > 0 && argv[0] != nullptr ? argv[0] : "") {
    if (QCoreApplication::instance() == nullptr)
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--headless")
            m_arguments.emplace_back(argv[i]);
    }
}

CHeadlessApp::~CHeadlessApp() {
    TearDown();
}

std::optional<int> CHeadlessApp::StartUp() {
    const StartPlace place = FindStartPlace(ProgramFile(), m_strArgv0);
    if (!place.error.empty()) {
        std::cerr << "vantrel: " << place.error << "\n";
        return 1;
    }
    const std::string& dir = place.where.directory;
    switch (m_lock.Acquire(dir)) {
    case CProgramDirLock::EResult::Taken:
        break;
    case CProgramDirLock::EResult::HeldByOther: {
        const pid_t holder = CProgramDirLock::ReadHolder(dir);
        std::cerr << "vantrel: another Vantrel"
                  << (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) << " runs in " << dir
                  << "; not started again\n";
        return 1;
    }
    case CProgramDirLock::EResult::Unavailable:
        std::cerr << LockUnavailableMessage(dir) << "\n";
        break;
    }

    m_store = std::make_unique<CCacheStore>(dir, place.where.fileName, m_slots);
    CHeadlessChooser chooser;
    if (!m_store->SelectClientAtStartup(chooser))
        return 1;

    m_pump = std::make_unique<CEnginePump>();
    m_channel = std::make_unique<CMessageChannel>(GetChannelDirectory());
    m_channel->SetProgramDirectory(dir);
    // A second desktop start finds no window to show here.
    m_channel->SetRequestJudge([](const ChannelRequest& request) {
        return request.command == kShowCommand ? EChannelReply::Refused : EChannelReply::Done;
    });
    ServeChannel(*m_channel, *m_pump, [this] { return m_controller.get(); }, *m_pump);
    if (!m_channel->Listen())
        std::cerr << "vantrel: cannot listen in " << m_channel->Directory()
                  << "; vantrel --post and --status will not reach this copy\n";

    const Timings timings = Timings::FromEnvironment();
    m_notices = std::make_unique<CProblemNotices>(m_options, timings, [](const ProblemNotice& notice) {
        std::cerr << "vantrel: " << notice.Title << ": " << notice.Text << "\n";
    });
    m_ctx = std::make_unique<CEngineContext>(*m_store, m_slots, m_options, timings, *m_pump);
    m_ctx->events = m_notices.get();
    m_controller = std::make_unique<CVantrelController>(
        *m_ctx, *this, m_arguments,
        GetConfigurationPath(platform::JoinPath(place.where.directory, place.where.fileName)));
    m_pump->Attach(m_controller.get());
    m_signals = std::make_unique<CSignalWatch>([this] { EndFromOutside(); });
    std::cout << "vantrel: running without a window in " << dir << " with the client " << m_store->GetClientPath()
              << std::endl;
    m_controller->OnInitDialog(false);
    return std::nullopt;
}

int CHeadlessApp::Run() {
    if (std::optional<int> code = StartUp()) {
        TearDown();
        return *code;
    }
    if (!m_bEnded)
        QCoreApplication::exec();
    EndFromOutside();
    TearDown();
    std::cout << "vantrel: ended" << std::endl;
    return 0;
}

void CHeadlessApp::EndFromOutside() {
    if (m_controller != nullptr && !m_bEnded)
        m_controller->Exit();
}

void CHeadlessApp::EndDialog() {
    m_bEnded = true;
    if (m_pump != nullptr)
        m_pump->End();
    QCoreApplication::exit(0);
}

void CHeadlessApp::TearDown() {
    m_signals.reset();
    if (m_controller != nullptr)
        m_controller->Shutdown();
    if (m_pump != nullptr)
        m_pump->Attach(nullptr);
    m_controller.reset();
    m_ctx.reset();
    m_channel.reset();
    m_notices.reset();
    m_pump.reset();
    m_store.reset();
    m_lock.Release();
}

} // namespace vantrel
