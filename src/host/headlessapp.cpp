#include "host/headlessapp.h"

#include "control/headlesssession.h"
#include "platform/fileops.h"
#include "platform/system.h"

#include <QCoreApplication>
#include <cstdlib>

namespace vantrel {

namespace {

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

CHeadlessApp::CHeadlessApp(int& argc, char** argv)
    : m_strArgv0(argc > 0 && argv[0] != nullptr ? argv[0] : ""),
      m_app(QCoreApplication::instance() == nullptr ? std::make_unique<QCoreApplication>(argc, argv) : nullptr) {
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    // Read after the toolkit has taken its own options out.
    m_arguments = HeadlessKeywords(argc, argv);
    m_pump.SetLoopEnd([] { QCoreApplication::exit(0); });
}

CHeadlessApp::~CHeadlessApp() = default;

int CHeadlessApp::Run() {
    ProgramFrontEnd frontEnd = MakeHeadlessFrontEnd(m_pump, m_channel, m_stopRequests);
    frontEnd.executable = ProgramFile();
    frontEnd.argv0 = m_strArgv0;
    frontEnd.arguments = m_arguments;
    return RunHeadlessSession(std::move(frontEnd), [](CProgramSession&) { QCoreApplication::exec(); });
}

} // namespace vantrel
