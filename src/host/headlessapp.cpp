#include "host/headlessapp.h"

#include "core/configfile.h"
#include "engine/enginecontext.h"
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

CHeadlessApp::CHeadlessApp(int& argc, char** argv)
    : m_strArgv0(argc > 0 && argv[0] != nullptr ? argv[0] : ""),
      m_app(QCoreApplication::instance() == nullptr ? std::make_unique<QCoreApplication>(argc, argv) : nullptr) {
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--headless")
            m_arguments.emplace_back(argv[i]);
    }
    m_pump.SetLoopEnd([] { QCoreApplication::exit(0); });
}

CHeadlessApp::~CHeadlessApp() = default;

int CHeadlessApp::Run() {
    ProgramFrontEnd frontEnd(m_pump);
    frontEnd.executable = ProgramFile();
    frontEnd.argv0 = m_strArgv0;
    frontEnd.arguments = m_arguments;
    frontEnd.channel = &m_channel;
    frontEnd.stopRequests = &m_stopRequests;
    // Another copy in this directory is never asked to show a window: there is none here to hand to.
    frontEnd.handOver = false;
    frontEnd.makeChooser = [](const StartPlace&) { return std::make_unique<CHeadlessChooser>(); };
    frontEnd.presentNotice = [](const ProblemNotice& notice) {
        std::cerr << "vantrel: " << notice.Title << ": " << notice.Text << "\n";
    };
    m_session = std::make_unique<CProgramSession>(std::move(frontEnd));
    if (std::optional<int> code = m_session->Start()) {
        m_session.reset();
        return *code;
    }
    // Said once the copy answers other programs (--status, --post) and has ended the clients it
    // found left behind.
    std::cout << "vantrel: running without a window in " << m_session->ProgramDir() << " with the client "
              << m_session->Store()->GetClientPath() << std::endl;
    if (!m_session->HasEnded())
        QCoreApplication::exec();
    m_session->EndFromOutside();
    m_session.reset();
    std::cout << "vantrel: ended" << std::endl;
    return 0;
}

} // namespace vantrel
