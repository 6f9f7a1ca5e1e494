#include "platform/localtime.h"

namespace vantrel::platform {

std::optional<std::tm> LocalTimeOf(std::time_t moment) {
    std::tm parts{};
    if (localtime_r(&moment, &parts) == nullptr)
        return std::nullopt;
    return parts;
}

std::optional<std::tm> UtcTimeOf(std::time_t moment) {
    std::tm parts{};
    if (gmtime_r(&moment, &parts) == nullptr)
        return std::nullopt;
    return parts;
}

} // namespace vantrel::platform
