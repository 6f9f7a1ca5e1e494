#include "platform/wait_linux.h"

#include <cerrno>
#include <algorithm>
#include <poll.h>
#include <vector>

namespace vantrel::platform {

namespace {

int Poll(std::vector<pollfd>& polled, std::optional<std::chrono::milliseconds> timeout) {
    for (const pollfd& entry : polled)
        if (entry.fd < 0)
            return kWaitFailed;
    using Clock = std::chrono::steady_clock;
    // Timeouts beyond a year wait forever; adding a huge one to now would overflow.
    constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24 * 365);
    if (timeout && *timeout > kLongest)
        timeout.reset();
    const auto deadline = timeout ? Clock::now() + *timeout : Clock::time_point::max();
    for (;;) {
        int wait = -1;
        if (timeout) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
        }
        int ready = ::poll(polled.data(), polled.size(), wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return kWaitFailed;
        if (ready == 0) {
            if (Clock::now() >= deadline)
                return kWaitTimeout;
            continue;
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            if (polled[i].revents & (POLLIN | POLLHUP))
                return static_cast<int>(i);
            if (polled[i].revents & (POLLERR | POLLNVAL))
                return kWaitFailed;
        }
    }
}

} // namespace

int WaitForAnyFd(std::initializer_list<int> fds, std::optional<std::chrono::milliseconds> timeout) {
    std::vector<pollfd> polled;
    for (int fd : fds)
        polled.push_back({fd, POLLIN, 0});
    return Poll(polled, timeout);
}

int WaitForAny(std::initializer_list<WaitHandle> handles, std::optional<std::chrono::milliseconds> timeout) {
    std::vector<pollfd> polled;
    for (WaitHandle handle : handles)
        polled.push_back({FdOf(handle), POLLIN, 0});
    return Poll(polled, timeout);
}

} // namespace vantrel::platform
