#pragma once

#include <memory>
#include <string>

namespace vantrel::test {

// What a test needs so that a client shown in a window has somewhere to show it: on Linux a
// display of the test's own (Xvfb), named by DISPLAY while the object lives, for the terminal a
// shown client runs in; on Windows the desktop the tests run on, where a client's console opens.
class CTestDisplay {
public:
    // The tool a shown client needs that is not installed; empty when all are.
    static std::string MissingTool();
    CTestDisplay();
    ~CTestDisplay();
    CTestDisplay(const CTestDisplay&) = delete;
    CTestDisplay& operator=(const CTestDisplay&) = delete;
    bool IsReady() const;

private:
    struct Server;
    std::unique_ptr<Server> m_server;
};

} // namespace vantrel::test
