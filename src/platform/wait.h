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

// The end of a wait that begins now, for the system waits that count in milliseconds and are
// resumed after a wake-up. No timeout, or one beyond a year, has no end: adding a huge one to now
// would overflow.
class CWaitDeadline {
public:
    explicit CWaitDeadline(std::optional<std::chrono::milliseconds> timeout);
    // What the next system wait is given: the milliseconds left, rounded up, from 0 to 2^30;
    // nullopt when the wait has no end.
    std::optional<int> Left() const;
    bool Passed() const;

private:
    std::optional<std::chrono::steady_clock::time_point> m_end;
};

} // namespace vantrel::platform
