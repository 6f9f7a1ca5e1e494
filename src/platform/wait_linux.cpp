#include "platform/wait_linux.h"

#include <cerrno>
#include <poll.h>
#include <vector>

namespace vantrel::platform {

namespace {

int Poll(std::vector<pollfd>& polled, std::optional<std::chrono::milliseconds> timeout) {
    for (const pollfd& entry : polled)
        if (entry.fd < 0)
            return kWaitFailed;
    const CWaitDeadline deadline(timeout);
    for (;;) {
        int ready = ::poll(polled.data(), polled.size(), deadline.Left().value_or(-1));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return kWaitFailed;
        if (ready == 0) {
            if (deadline.Passed())
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
