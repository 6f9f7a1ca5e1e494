#pragma once

#include "winui/win32.h"

#include "winui/winconsolestop.h"
#include "winui/wincopychannel.h"
#include "winui/winscheduler.h"

#include <string>
#include <vector>

namespace vantrel {

// `vantrel.exe --headless`: the program session with no dialog and no notification-area icon, on
// the window's message loop. Its lines and messages go to the console it was started from (or the
// file or pipe it was given). It ends as Exit does on Ctrl+C, Ctrl+Break, the console's close,
// log-off and shut-down, and on the registered message "Vantrel" with 16, which reaches it
// through a hidden top-level window: a message-only window gets no broadcast.
class CWinHeadlessApp {
public:
    // The class of that window, by which `vantrel.exe --post` knows a running copy.
    static constexpr const char* kWindowClass = "VantrelHeadless";

    // arguments: the option keywords after the program name, without "--headless".
    explicit CWinHeadlessApp(std::vector<std::string> arguments);
    ~CWinHeadlessApp();
    CWinHeadlessApp(const CWinHeadlessApp&) = delete;
    CWinHeadlessApp& operator=(const CWinHeadlessApp&) = delete;

    // Runs the program once; the process's exit code.
    int Run();

private:
    LRESULT Handle(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::vector<std::string> m_arguments;
    // What the session is given, made before it and gone after it.
    CWinScheduler m_scheduler;
    CWinCopyChannel m_channel;
    CConsoleStop m_stopRequests;
    HWND m_hWnd = nullptr;
    bool m_bReachable = false; // a top-level window, which the broadcast reaches
    CProgramSession* m_pSession = nullptr; // while its loop runs
};

// Starts `vantrel.exe --headless` with the process's arguments; its exit code.
int RunWindowsHeadless(int argc, char** argv);

} // namespace vantrel
