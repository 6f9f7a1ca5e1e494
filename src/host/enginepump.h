#pragma once

#include "control/scheduler.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace vantrel {

class CVantrelController;

// The Qt event loop as the scheduler of both Linux programs, with a window and without: engine
// messages posted from any thread, the retry timer armed and killed from any thread, and calls
// run later, all delivered on the thread that owns the pump.
class CEnginePump final : public QObject, public IScheduler {
public:
    explicit CEnginePump(QObject* parent = nullptr);

    // IScheduler. Without a controller (before, or after nullptr) messages and timers go nowhere.
    void Attach(CVantrelController* controller) override { m_controller = controller; }
    // Then runs what SetLoopEnd named.
    void End() override;
    void Post(unsigned message) override;
    void ArmRetryTimer(std::chrono::milliseconds period) override;
    void KillRetryTimer() override;
    std::optional<std::chrono::milliseconds> RetryTimerRemaining() const override;
    bool CallLater(std::chrono::milliseconds delay, std::function<void()> fn) override;
    void RunOnOwnThread(std::function<void()> fn) override;

    // What ends the front end's loop once the dialog has ended; none: the window's end does.
    void SetLoopEnd(std::function<void()> endLoop) { m_endLoop = std::move(endLoop); }

    const QTimer& RetryTimer() const { return m_retryTimer; }

protected:
    bool event(QEvent* event) override;

private:
    CVantrelController* m_controller = nullptr;
    QTimer m_retryTimer;
    // Arm and kill requests in the order they were made.
    std::atomic<std::uint64_t> m_nTimerRequests{0};
    std::atomic<std::uint64_t> m_nLastKillRequest{0};
    bool m_bEnded = false;
    std::function<void()> m_endLoop;
};

} // namespace vantrel
