#pragma once

#include "engine/messagetarget.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace vantrel {

class CVantrelController;

// The dialog's message loop for the engine, the same for a window and for the headless program:
// engine messages posted from any thread, the retry timer armed and killed from any thread, and
// calls run later, all delivered to the controller on the thread that owns the pump.
class CEnginePump final : public QObject, public IMessageTarget {
public:
    explicit CEnginePump(QObject* parent = nullptr);

    // Without a controller (before, or after nullptr) messages, timers and later calls go nowhere.
    void Attach(CVantrelController* controller) { m_controller = controller; }
    // The dialog has ended: the retry timer stops and is not armed again.
    void End();

    // IMessageTarget: any thread.
    void Post(unsigned message) override;
    // Any thread; a kill asked for after an arm wins, even when its call arrives first.
    void ArmRetryTimer(std::chrono::milliseconds period);
    void KillRetryTimer();
    // Runs fn after delay on the pump's thread, while a controller is attached.
    bool CallLater(std::chrono::milliseconds delay, std::function<void()> fn);
    // Runs fn on the pump's thread: now when called there, else queued.
    void RunOnOwnThread(std::function<void()> fn);

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
};

} // namespace vantrel
