#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// The two formats in which processor times are shown (a duration and a clock time) and the
// date format of the result log. All of them are fixed texts, whatever the user's locale.
namespace vantrel {

struct DurationParts {
    std::uint16_t Days = 0;
    std::uint16_t Hours = 0;
    std::uint16_t Minutes = 0;

    bool operator==(const DurationParts&) const = default;
};

// The largest duration the counts can hold: 65535 days 23 hours 59 minutes.
inline constexpr DurationParts kLargestDuration{65535, 23, 59};

// Whole days, hours (0-23) and minutes (0-59) of t seconds; the seconds are dropped.
// An undefined or infinite t (a work unit at 0 %) and a negative t (one past 100 %) give zero;
// a t beyond what the day count can hold gives kLargestDuration, never a wrapped count.
DurationParts SplitDuration(double seconds);

// Hours and minutes, with days as "1 Day  " / "%d Days  " before them, or with the 24-hour
// setting as a count of hours ("27:05"). Under a day both read "05:07".
std::string FormatDuration(std::uint16_t days, std::uint16_t hours, std::uint16_t minutes, bool use24HourClock);

// The local time of day of time ("19:05" or "7:05 PM"), preceded by the day of the month with its
// ordinal suffix and two blanks ("21st  7:05 PM") when that day number differs from now's.
// Empty when the time cannot be converted.
std::string FormatClockTime(std::time_t time, std::time_t now, bool use24HourClock);

// The local time of time as "%Y.%m.%d %H:%M:%S"; empty when it cannot be converted.
std::string FormatLogDate(std::time_t time);

} // namespace vantrel
