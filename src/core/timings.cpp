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

Timings Timings::Scaled(double by) const {
    Timings t;
    t.hangCheck = ScaleOne(hangCheck, by);
    t.transmitPause = ScaleOne(transmitPause, by);
    t.retryInterval = ScaleOne(retryInterval, by);
    t.runnerSpacing = ScaleOne(runnerSpacing, by);
    t.killPause = ScaleOne(killPause, by);
    t.firstRetry = ScaleOne(firstRetry, by);
    // How long the system takes to end a process does not shrink with the other durations.
    t.killWait = killWait;
    t.noticeRepeat = ScaleOne(noticeRepeat, by);
    t.logHold = ScaleOne(logHold, by);
    t.factor = factor * by;
    return t;
}

std::chrono::milliseconds Timings::Scale(std::chrono::milliseconds real) const {
    return ScaleOne(real, factor);
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
