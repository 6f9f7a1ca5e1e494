#pragma once

#include <chrono>
#include <initializer_list>
#include <optional>

namespace vantrel::platform {

inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

// Waits until one of the descriptors is readable (a pidfd whose process ended, a set CEvent,
// an inotify descriptor with events). Returns the index of the first ready one in the order
// given, so earlier descriptors take precedence; kWaitTimeout when the timeout passed first;
// kWaitFailed when the wait itself failed (a negative descriptor counts as failure). No timeout
// waits forever. Interrupted waits are resumed with the remaining time.
int WaitForAny(std::initializer_list<int> fds, std::optional<std::chrono::milliseconds> timeout = std::nullopt);

} // namespace vantrel::platform
