#include "platform/wait.h"

#include <algorithm>

namespace vantrel::platform {

CWaitDeadline::CWaitDeadline(std::optional<std::chrono::milliseconds> timeout) {
    constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24 * 365);
    if (timeout && *timeout <= kLongest)
        m_end = std::chrono::steady_clock::now() + *timeout;
}

std::optional<int> CWaitDeadline::Left() const {
    if (!m_end)
        return std::nullopt;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*m_end - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
}

bool CWaitDeadline::Passed() const {
    return m_end && std::chrono::steady_clock::now() >= *m_end;
}

} // namespace vantrel::platform
