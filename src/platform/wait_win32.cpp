#include "platform/detail_win32.h"

#include "platform/wait.h"

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
    const CWaitDeadline deadline(timeout);
    for (;;) {
        const std::optional<int> left = deadline.Left();
        const DWORD wait = left ? static_cast<DWORD>(*left) : INFINITE;
        // The lowest signalled index is answered, so earlier handles take precedence.
        DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait);
        if (result < WAIT_OBJECT_0 + handles.size())
            return static_cast<int>(result - WAIT_OBJECT_0);
        if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + handles.size())
            return static_cast<int>(result - WAIT_ABANDONED_0);
        if (result != WAIT_TIMEOUT)
            return kWaitFailed;
        if (deadline.Passed())
            return kWaitTimeout;
    }
}

} // namespace vantrel::platform
