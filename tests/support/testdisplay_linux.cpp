#include "support/testdisplay.h"

#include "platform/process_detail_linux.h"
#include "support/childprocess.h"
#include "support/tempdir.h"

namespace vantrel::test {

// Xvfb picks a free number and prints it once it accepts clients; it does not reset (and refuse
// clients) each time its last client leaves.
struct CTestDisplay::Server {
    Server()
        : process({platform::detail::FindOnPath("Xvfb"), "-displayfd", "1", "-nolisten", "tcp", "-noreset"}),
          number(process.ReadLine()), display("DISPLAY", ":" + number) {}
    TestChild process;
    std::string number;
    ScopedEnv display;
};

std::string CTestDisplay::MissingTool() {
    for (const char* tool : {"Xvfb", "xterm"})
        if (platform::detail::FindOnPath(tool).empty())
            return tool;
    return {};
}

CTestDisplay::CTestDisplay() : m_server(std::make_unique<Server>()) {}
CTestDisplay::~CTestDisplay() = default;

bool CTestDisplay::IsReady() const {
    return !m_server->number.empty();
}

} // namespace vantrel::test
