#include "winui/win32.h"
#include "winui/winscheduler.h"

#include "control/vantrelcontroller.h"
#include "winui/winobjectwindow.h"

#include <algorithm>

namespace vantrel {

namespace {

constexpr const char* kWindowClass = "VantrelScheduler";
// Calls handed over from other threads wait behind this message.
constexpr UINT WM_RUN_QUEUED = WM_APP + 0x100;
// Later calls take window timer ids from here up; the retry timer keeps its own.
constexpr UINT_PTR kFirstLaterTimer = 0x10000;

// Window timers count in UINT milliseconds, and at most USER_TIMER_MAXIMUM.
UINT TimerPeriod(std::chrono::milliseconds period) {
    return static_cast<UINT>(std::clamp<long long>(period.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
}

} // namespace

CWinScheduler::CWinScheduler() : m_dwThread(::GetCurrentThreadId()), m_nNextLater(kFirstLaterTimer) {
    m_hWnd = CreateObjectWindow({kWindowClass, &ObjectWindowProc<CWinScheduler, &CWinScheduler::Handle>}, this);
}

CWinScheduler::~CWinScheduler() {
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
}

LRESULT CWinScheduler::Handle(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_APP:
    case WM_APP_1:
    case WM_APP_4:
        if (m_controller != nullptr)
            m_controller->OnMessage(message);
        return 0;
    case WM_RUN_QUEUED:
        RunQueued();
        return 0;
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    default:
        return ::DefWindowProcA(hWnd, message, wParam, lParam);
    }
}

void CWinScheduler::End() {
    m_bEnded = true;
    KillRetryTimer();
    for (const auto& later : m_later)
        ::KillTimer(m_hWnd, later.first);
    m_later.clear();
    ::PostQuitMessage(0);
}

void CWinScheduler::Post(unsigned message) {
    ::PostMessageA(m_hWnd, message, 0, 0);
}

void CWinScheduler::ArmRetryTimer(std::chrono::milliseconds period) {
    const std::uint64_t ticket = ++m_nTimerRequests;
    RunOnOwnThread([this, period, ticket] {
        if (m_nLastKillRequest.load() >= ticket || m_bEnded)
            return;
        ::SetTimer(m_hWnd, kRetryTimerId, TimerPeriod(period), nullptr);
        m_retryPeriod = period;
        m_retryDue = std::chrono::steady_clock::now() + period;
    });
}

void CWinScheduler::KillRetryTimer() {
    const std::uint64_t ticket = ++m_nTimerRequests;
    std::uint64_t last = m_nLastKillRequest.load();
    while (last < ticket && !m_nLastKillRequest.compare_exchange_weak(last, ticket)) {
    }
    RunOnOwnThread([this] {
        ::KillTimer(m_hWnd, kRetryTimerId);
        m_retryDue.reset();
    });
}

std::optional<std::chrono::milliseconds> CWinScheduler::RetryTimerRemaining() const {
    if (!m_retryDue)
        return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*m_retryDue - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

bool CWinScheduler::CallLater(std::chrono::milliseconds delay, std::function<void()> fn) {
    if (m_bEnded || m_hWnd == nullptr)
        return false;
    const UINT_PTR id = m_nNextLater++;
    if (::SetTimer(m_hWnd, id, TimerPeriod(delay), nullptr) == 0)
        return false;
    m_later.emplace(id, std::move(fn));
    return true;
}

void CWinScheduler::RunOnOwnThread(std::function<void()> fn) {
    if (::GetCurrentThreadId() == m_dwThread) {
        fn();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_queued.push_back(std::move(fn));
    }
    ::PostMessageA(m_hWnd, WM_RUN_QUEUED, 0, 0);
}

void CWinScheduler::RunQueued() {
    std::deque<std::function<void()>> due;
    {
        std::lock_guard lock(m_mutex);
        due.swap(m_queued);
    }
    for (auto& fn : due)
        fn();
}

void CWinScheduler::OnTimer(UINT_PTR id) {
    if (id == kRetryTimerId) {
        // A window timer repeats until it is killed, as the retry timer should.
        m_retryDue = std::chrono::steady_clock::now() + m_retryPeriod;
        if (m_controller != nullptr && !m_bEnded)
            m_controller->OnTimer(kRetryTimerId);
        return;
    }
    auto found = m_later.find(id);
    ::KillTimer(m_hWnd, id);
    if (found == m_later.end())
        return;
    std::function<void()> fn = std::move(found->second);
    m_later.erase(found);
    if (!m_bEnded)
        fn();
}

} // namespace vantrel
