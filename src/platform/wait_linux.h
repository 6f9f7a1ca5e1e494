#pragma once

#include <chrono>
#include <initializer_list>
#include <optional>

#include "platform/wait.h"

namespace vantrel::platform {

// WaitForAny on descriptors: ready when readable (a pidfd whose process ended, a set eventfd, an
// inotify descriptor with events, a pipe with data or a closed writer); a negative one fails.
int WaitForAnyFd(std::initializer_list<int> fds, std::optional<std::chrono::milliseconds> timeout = std::nullopt);

inline int FdOf(WaitHandle handle) {
    return static_cast<int>(handle.native);
}

} // namespace vantrel::platform
