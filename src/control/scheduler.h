#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "engine/messagetarget.h"

namespace vantrel {

class CVantrelController;

// The front end's thread as the engine and the dialog's logic see it: the engine's messages
// posted to it, the retry timer, and calls made later or handed over from another thread. A Qt
// event loop stands behind it on Linux, a window's message loop on Windows, a hand-run queue in
// tests.
class IScheduler : public IMessageTarget {
public:
    // Messages (Post, any thread) and the retry timer go to this controller; none: they go nowhere.
    virtual void Attach(CVantrelController* controller) = 0;
    // The dialog has ended: the retry timer stops and is not armed again, and later calls are
    // dropped. The front end's loop ends once the current handler returns.
    virtual void End() = 0;

    // Any thread; a kill asked for after an arm wins, even when its call arrives first. When the
    // timer fires, the controller's OnTimer(kRetryTimerId).
    virtual void ArmRetryTimer(std::chrono::milliseconds period) = 0;
    virtual void KillRetryTimer() = 0;
    // The time left before the retry timer fires; none while it is not armed. Front end's thread.
    virtual std::optional<std::chrono::milliseconds> RetryTimerRemaining() const = 0;

    // Runs fn on the front end's thread once delay has passed, unless End came first; false when
    // it cannot, and nothing is run. Callers guard their own lifetime.
    virtual bool CallLater(std::chrono::milliseconds delay, std::function<void()> fn) = 0;
    // Any thread: runs fn on the front end's thread (at once when called there).
    virtual void RunOnOwnThread(std::function<void()> fn) = 0;
};

} // namespace vantrel
