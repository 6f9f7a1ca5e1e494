#include "winui/win32.h"
#include "winui/winconsolestop.h"

#include <mutex>

namespace vantrel {

namespace {

std::mutex g_mutex;
CConsoleStop* g_consoleStop = nullptr; // under g_mutex

// Set once the watching object has gone; never closed, since a handler may still wait on it.
HANDLE Gone() {
    static const HANDLE gone = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return gone;
}

bool EndsTheProcessOnReturn(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

} // namespace

CConsoleStop::CConsoleStop(IScheduler& scheduler) : m_scheduler(scheduler) {
    Gone();
}

CConsoleStop::~CConsoleStop() {
    {
        std::lock_guard lock(g_mutex);
        if (g_consoleStop == this)
            g_consoleStop = nullptr;
    }
    if (m_bInstalled)
        ::SetConsoleCtrlHandler(&CConsoleStop::Handler, FALSE);
    // A close waiting in the handler may let the process end now.
    ::SetEvent(Gone());
}

void CConsoleStop::Watch(std::function<void()> onStop) {
    {
        std::lock_guard lock(g_mutex);
        m_onStop = std::move(onStop);
        g_consoleStop = this;
    }
    ::ResetEvent(Gone());
    m_bInstalled = ::SetConsoleCtrlHandler(&CConsoleStop::Handler, TRUE) != 0;
}

void CConsoleStop::StopWatching() {
    // The handler stays: a close from now on still waits for the program's end.
    std::lock_guard lock(g_mutex);
    m_onStop = nullptr;
}

BOOL WINAPI CConsoleStop::Handler(DWORD event) {
    // Runs on a thread the system makes; the program ends on its own thread.
    {
        std::lock_guard lock(g_mutex);
        CConsoleStop* self = g_consoleStop;
        if (self == nullptr)
            return FALSE;
        if (self->m_onStop)
            self->m_scheduler.RunOnOwnThread([self] {
                std::function<void()> onStop;
                {
                    std::lock_guard innerLock(g_mutex);
                    if (g_consoleStop == self)
                        onStop = self->m_onStop;
                }
                if (onStop)
                    onStop();
            });
    }
    if (EndsTheProcessOnReturn(event))
        ::WaitForSingleObject(Gone(), INFINITE);
    return TRUE;
}

} // namespace vantrel
