#include "support/wait.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace vantrel::test {
namespace {

// Set before the first test and read by waits only, so no lock is needed.
std::function<void(std::chrono::milliseconds)>& Pause() {
    static std::function<void(std::chrono::milliseconds)> pause;
    return pause;
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    using namespace std::chrono_literals;
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (waited >= limit)
            return false;
        // A twentieth of the wait so far: a state that comes at once is seen at once.
        const auto step = std::min(std::clamp(waited / 20, 1ms, 50ms), limit - waited);
        if (Pause())
            Pause()(step);
        else
            std::this_thread::sleep_for(step);
    }
    return true;
}

void SetWaitPause(std::function<void(std::chrono::milliseconds)> pause) {
    Pause() = std::move(pause);
}

} // namespace vantrel::test
