#include "winui/win32.h"
#include "winui/winheadlessapp.h"

#include "control/headlesssession.h"
#include "winui/winobjectwindow.h"

#include <iostream>

namespace vantrel {

CWinHeadlessApp::CWinHeadlessApp(std::vector<std::string> arguments)
    : m_arguments(std::move(arguments)), m_channel(m_scheduler), m_stopRequests(m_scheduler) {
    constexpr WNDPROC windowProc = &ObjectWindowProc<CWinHeadlessApp, &CWinHeadlessApp::Handle>;
    // Top-level, so the registered message broadcast to every top-level window reaches it; never
    // shown, so there is nothing on the screen or in the taskbar.
    m_hWnd = CreateObjectWindow({kWindowClass, windowProc, "Vantrel", WS_EX_TOOLWINDOW, WS_POPUP, nullptr}, this);
    // Where no top-level window can be made (Wine without a display), the program still runs;
    // only the broadcast misses it.
    m_bReachable = m_hWnd != nullptr;
    if (m_hWnd == nullptr)
        m_hWnd = CreateObjectWindow({kWindowClass, windowProc, "Vantrel"}, this);
}

CWinHeadlessApp::~CWinHeadlessApp() {
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
}

LRESULT CWinHeadlessApp::Handle(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_channel.OnWindowMessage(message, wParam, lParam))
        return 0;
    switch (message) {
    case WM_CLOSE:
        // Another program asks this copy to close: there is no window to hide, so it ends as Exit does.
        if (m_pSession != nullptr)
            m_pSession->EndFromOutside();
        return 0;
    case WM_ENDSESSION:
        // Log-off or shut-down reaches a program with windows here, not at its console handler, and
        // the process may be ended as soon as this returns: the clients are ended first.
        if (wParam != FALSE && m_pSession != nullptr) {
            m_pSession->EndFromOutside();
            m_pSession->Shutdown();
        }
        return 0;
    default:
        return ::DefWindowProcA(hWnd, message, wParam, lParam);
    }
}

int CWinHeadlessApp::Run() {
    ProgramFrontEnd frontEnd = MakeHeadlessFrontEnd(m_scheduler, m_channel, m_stopRequests);
    frontEnd.arguments = m_arguments;
    return RunHeadlessSession(std::move(frontEnd), [this](CProgramSession& session) {
        if (!m_bReachable)
            std::cerr << "vantrel: cannot make a hidden top-level window; vantrel --post will not reach this copy "
                         "(vantrel --status and Ctrl+C still do)\n";
        m_pSession = &session;
        MSG message{};
        while (!session.HasEnded() && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        m_pSession = nullptr;
    });
}

int RunWindowsHeadless(int argc, char** argv) {
    CWinHeadlessApp app(HeadlessKeywords(argc, argv));
    return app.Run();
}

} // namespace vantrel
