#pragma once

#include "winui/win32.h"

#include "control/programsession.h"
#include "winui/vantreldlg.h"
#include "winui/winconsolestop.h"
#include "winui/wincopychannel.h"
#include "winui/winscheduler.h"
#include "winui/wintray.h"

#include <memory>
#include <string>
#include <vector>

namespace vantrel {

// The Windows desktop program: the program session with the system's Open File dialog, the
// dialog from its resource, the notification-area icon, the window's message loop as the
// scheduler and the registered message and named pipe to the other copies.
class CVantrelApp {
public:
    // arguments: the option keywords after the program name. showCommand: how the program was
    // asked to show its window.
    CVantrelApp(std::vector<std::string> arguments, int showCommand);
    ~CVantrelApp();
    CVantrelApp(const CVantrelApp&) = delete;
    CVantrelApp& operator=(const CVantrelApp&) = delete;

    // Runs the program once; the process's exit code.
    int Run();

private:
    std::vector<std::string> m_arguments;
    int m_nShowCommand;
    // What the session is given, made before it and gone after it.
    CWinScheduler m_scheduler;
    CWinCopyChannel m_channel;
    CConsoleStop m_stopRequests;
    CSystemTray m_tray;
    std::unique_ptr<CVantrelDlg> m_dialog;
    std::unique_ptr<CProgramSession> m_session;
};

} // namespace vantrel
