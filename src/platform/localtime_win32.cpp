#include "platform/localtime.h"

namespace vantrel::platform {

std::optional<std::tm> LocalTimeOf(std::time_t moment) {
    std::tm parts{};
    if (localtime_s(&parts, &moment) != 0)
        return std::nullopt;
    return parts;
}

std::optional<std::tm> UtcTimeOf(std::time_t moment) {
    std::tm parts{};
    if (gmtime_s(&parts, &moment) != 0)
        return std::nullopt;
    return parts;
}

} // namespace vantrel::platform
