#pragma once

#include <ctime>
#include <optional>

namespace vantrel::platform {

// The local calendar time of a moment, or nothing when the system cannot convert it. Thread-safe,
// unlike std::localtime.
std::optional<std::tm> LocalTimeOf(std::time_t moment);
// The same in UTC.
std::optional<std::tm> UtcTimeOf(std::time_t moment);

} // namespace vantrel::platform
