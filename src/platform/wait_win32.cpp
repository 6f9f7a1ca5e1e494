#include "platform/detail_win32.h"

#include "platform/wait.h"

#include <algorithm>
#include <vector>

namespace vantrel::platform {

int WaitForAny(std::initializer_list<WaitHandle> waitables, std::optional<std::chrono::milliseconds> timeout) {
    std::vector<HANDLE> handles;
    for (WaitHandle waitable : waitables) {
        if (waitable.native < 0)
            return kWaitFailed;
        handles.push_back(detail::IntToHandle(static_cast<int>(waitable.native)));
    }
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS)
        return kWaitFailed;
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24 * 365);
    if (timeout && *timeout > kLongest)
        timeout.reset();
    const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
    for (;;) {
        DWORD wait = INFINITE;
        if (timeout) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = static_cast<DWORD>(std::clamp<long long>(left, 0, 1 << 30));
        }
        // The lowest signalled index is answered, so earlier handles take precedence.
        DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait);
        if (result < WAIT_OBJECT_0 + handles.size())
            return static_cast<int>(result - WAIT_OBJECT_0);
        if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + handles.size())
            return static_cast<int>(result - WAIT_ABANDONED_0);
        if (result != WAIT_TIMEOUT)
            return kWaitFailed;
        if (Clock::now() >= deadline)
            return kWaitTimeout;
    }
}

} // namespace vantrel::platform
