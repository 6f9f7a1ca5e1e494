#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>

namespace vantrel::platform {

inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

// Something a thread can wait for: a process that ends, an event that is set. It holds the
// system's own handle (a descriptor on Linux) and owns nothing; the object it came from must
// outlive the wait.
struct WaitHandle {
    std::intptr_t native = -1;
};

// Waits until one of the handles is ready (a process ended, an event set). Returns the index of
// the first ready one in the order given, so earlier handles take precedence; kWaitTimeout when
// the timeout passed first; kWaitFailed when the wait itself failed (an empty handle counts as
// failure). No timeout waits forever. Interrupted waits are resumed with the remaining time.
int WaitForAny(std::initializer_list<WaitHandle> handles,
               std::optional<std::chrono::milliseconds> timeout = std::nullopt);

} // namespace vantrel::platform
