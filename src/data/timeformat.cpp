#include "data/timeformat.h"

#include <cmath>
#include <cstdio>

#include "platform/localtime.h"

namespace vantrel {

namespace {
constexpr double kSecondsPerDay = 86400.0;

// Formats a few numbers; the texts here are short and bounded, far below the buffer.
template <typename... Args> std::string Format(const char* format, Args... args) {
    char buffer[64];
    int length = std::snprintf(buffer, sizeof buffer, format, args...);
    if (length < 0)
        return {};
    return std::string(buffer, static_cast<std::size_t>(length) < sizeof buffer ? static_cast<std::size_t>(length)
                                                                                : sizeof buffer - 1);
}

const char* OrdinalSuffix(int day) {
    switch (day) {
    case 1:
    case 21:
    case 31:
        return "st";
    case 2:
    case 22:
        return "nd";
    case 3:
    case 23:
        return "rd";
    default:
        return "th";
    }
}
} // namespace

DurationParts SplitDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0.0)
        return {};
    if (seconds >= (kLargestDuration.Days + 1.0) * kSecondsPerDay)
        return kLargestDuration;
    // Whole seconds in integers: a day, an hour or a minute that is exactly complete always
    // counts whole, never as 24 hours or 60 minutes of the unit below.
    auto whole = static_cast<std::uint64_t>(seconds);
    return {static_cast<std::uint16_t>(whole / 86400), static_cast<std::uint16_t>(whole % 86400 / 3600),
            static_cast<std::uint16_t>(whole % 3600 / 60)};
}

std::string FormatDuration(std::uint16_t days, std::uint16_t hours, std::uint16_t minutes, bool use24HourClock) {
    if (days == 0)
        return Format("%02d:%02d", hours, minutes);
    if (use24HourClock)
        return Format("%d:%02d", hours + 24 * days, minutes);
    if (days == 1)
        return Format("1 Day  %02d:%02d", hours, minutes);
    return Format("%d Days  %02d:%02d", days, hours, minutes);
}

std::string FormatClockTime(std::time_t time, std::time_t now, bool use24HourClock) {
    const auto atParts = platform::LocalTimeOf(time);
    const auto todayParts = platform::LocalTimeOf(now);
    if (!atParts || !todayParts)
        return {};
    const std::tm& at = *atParts;
    const std::tm& today = *todayParts;
    std::string text;
    if (use24HourClock) {
        text = Format("%02d:%02d", at.tm_hour, at.tm_min);
    } else {
        int hour12 = at.tm_hour % 12 == 0 ? 12 : at.tm_hour % 12;
        text = Format("%d:%02d %s", hour12, at.tm_min, at.tm_hour < 12 ? "AM" : "PM");
    }
    // Only the day number is compared, so a completion a month ahead on the same day shows the
    // time alone.
    if (at.tm_mday != today.tm_mday)
        text = Format("%d%s  ", at.tm_mday, OrdinalSuffix(at.tm_mday)) + text;
    return text;
}

std::string FormatLogDate(std::time_t time) {
    const auto parts = platform::LocalTimeOf(time);
    if (!parts)
        return {};
    const std::tm& at = *parts;
    return Format("%04d.%02d.%02d %02d:%02d:%02d", at.tm_year + 1900, at.tm_mon + 1, at.tm_mday, at.tm_hour, at.tm_min,
                  at.tm_sec);
}

} // namespace vantrel
