#include "core/timings.h"

#include <cmath>
#include <cstdlib>

namespace vantrel {

namespace {
std::chrono::milliseconds ScaleOne(std::chrono::milliseconds value, double factor) {
    double scaled = std::round(static_cast<double>(value.count()) * factor);
    if (!(scaled >= 1.0))
        scaled = 1.0;
    if (scaled > 1e15)
        scaled = 1e15;
    return std::chrono::milliseconds(static_cast<long long>(scaled));
}
} // namespace

Timings Timings::Scaled(double factor) const {
    Timings t;
    t.hangCheck = ScaleOne(hangCheck, factor);
    t.transmitPause = ScaleOne(transmitPause, factor);
    t.retryInterval = ScaleOne(retryInterval, factor);
    t.runnerSpacing = ScaleOne(runnerSpacing, factor);
    t.killPause = ScaleOne(killPause, factor);
    t.firstRetry = ScaleOne(firstRetry, factor);
    // How long the system takes to end a process does not shrink with the other durations.
    t.killWait = killWait;
    return t;
}

Timings Timings::FromEnvironment() {
    Timings defaults;
    const char* text = std::getenv("VANTREL_TIME_SCALE");
    if (text == nullptr || *text == '\0')
        return defaults;
    char* end = nullptr;
    double factor = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(factor > 0.0) || !std::isfinite(factor))
        return defaults;
    return defaults.Scaled(factor);
}

} // namespace vantrel
