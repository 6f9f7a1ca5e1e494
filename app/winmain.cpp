// The Windows desktop program: `vantrel --help`, `--version` and `--post N` answer on the console
// it was started from; anything else starts Vantrel.
#include "winui/win32.h"
#include "winui/vantrelapp.h"
#include "winui/wincommandline.h"

int main(int argc, char** argv) {
    if (std::optional<int> exitCode = vantrel::RunWindowsCommandLine(argc, argv))
        return *exitCode;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    const int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWNORMAL;
    ::InitCommonControls();
    vantrel::CVantrelApp app(std::vector<std::string>(argv + 1, argv + argc), showCommand);
    return app.Run();
}
