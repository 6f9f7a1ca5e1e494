#pragma once

#include "winui/win32.h"

#include "control/scheduler.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace vantrel {

// The window's message loop as the scheduler: engine messages are posted to a message-only window
// with their own numbers (WM_APP, WM_APP+1, WM_APP+4), the retry timer is a window timer with id
// 32773, and later calls are window timers of their own. Made and used on the front end's thread.
class CWinScheduler final : public IScheduler {
public:
    CWinScheduler();
    ~CWinScheduler() override;
    CWinScheduler(const CWinScheduler&) = delete;
    CWinScheduler& operator=(const CWinScheduler&) = delete;

    void Attach(CVantrelController* controller) override { m_controller = controller; }
    void End() override;
    void Post(unsigned message) override;
    void ArmRetryTimer(std::chrono::milliseconds period) override;
    void KillRetryTimer() override;
    std::optional<std::chrono::milliseconds> RetryTimerRemaining() const override;
    bool CallLater(std::chrono::milliseconds delay, std::function<void()> fn) override;
    void RunOnOwnThread(std::function<void()> fn) override;

    // The window that receives all of it.
    HWND Window() const { return m_hWnd; }

private:
    LRESULT Handle(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void RunQueued();
    void OnTimer(UINT_PTR id);

    HWND m_hWnd = nullptr;
    DWORD m_dwThread = 0;
    CVantrelController* m_controller = nullptr;
    bool m_bEnded = false;
    // Arm and kill requests in the order they were made, so that a kill asked for after an arm
    // wins even when its call arrives first.
    std::atomic<std::uint64_t> m_nTimerRequests{0};
    std::atomic<std::uint64_t> m_nLastKillRequest{0};
    std::chrono::milliseconds m_retryPeriod{0};
    std::optional<std::chrono::steady_clock::time_point> m_retryDue;
    std::map<UINT_PTR, std::function<void()>> m_later;
    UINT_PTR m_nNextLater;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_queued;
};

} // namespace vantrel
