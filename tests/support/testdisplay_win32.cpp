#include "support/testdisplay.h"

namespace vantrel::test {

// A console opens on the desktop the tests run on; nothing needs starting.
struct CTestDisplay::Server {};

std::string CTestDisplay::MissingTool() {
    return {};
}

CTestDisplay::CTestDisplay() = default;
CTestDisplay::~CTestDisplay() = default;

bool CTestDisplay::IsReady() const {
    return true;
}

} // namespace vantrel::test
