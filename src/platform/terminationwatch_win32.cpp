#include "platform/detail_win32.h"

#include "platform/terminationwatch.h"

#include <mutex>
#include <thread>

#include "platform/event.h"
#include "platform/wait.h"

// Ctrl+C, Ctrl+Break and closing the console reach a console program as control events, each on
// a thread the system starts for it; the handler only sets an event that the watch's thread waits
// for.
namespace vantrel::platform {

namespace {
std::mutex s_mutex;
CEvent* s_requested = nullptr; // the live watch's event, under s_mutex

BOOL WINAPI Handler(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
        std::lock_guard lock(s_mutex);
        if (s_requested == nullptr)
            return FALSE;
        s_requested->Set();
        return TRUE;
    }
    default:
        return FALSE;
    }
}
} // namespace

struct CTerminationWatch::Impl {
    std::function<void()> onRequest;
    CEvent requested;
    CEvent stop;
    bool installed = false;
    std::thread thread;

    void Run() {
        for (;;) {
            if (WaitForAny({stop.Handle(), requested.Handle()}) != 1)
                return;
            requested.Reset();
            onRequest();
        }
    }
};

CTerminationWatch::CTerminationWatch(std::function<void()> onRequest) : m_impl(std::make_unique<Impl>()) {
    m_impl->onRequest = std::move(onRequest);
    {
        std::lock_guard lock(s_mutex);
        s_requested = &m_impl->requested;
    }
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->Run(); });
    m_impl->installed = ::SetConsoleCtrlHandler(&Handler, TRUE) != 0;
}

CTerminationWatch::~CTerminationWatch() {
    if (m_impl->installed)
        ::SetConsoleCtrlHandler(&Handler, FALSE);
    {
        std::lock_guard lock(s_mutex);
        s_requested = nullptr;
    }
    m_impl->stop.Set();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

bool CTerminationWatch::IsActive() const {
    return m_impl->installed;
}

} // namespace vantrel::platform
