#include <gtest/gtest.h>

#include "data/timeformat.h"
#include "datatest.h"

namespace vantrel {
namespace {

using test::UtcTest;

TEST(SplitDuration, SplitsWholeUnitsAndDropsSeconds) {
    EXPECT_EQ(SplitDuration(14400.0), (DurationParts{0, 4, 0}));
    EXPECT_EQ(SplitDuration(180000.0), (DurationParts{2, 2, 0}));
    EXPECT_EQ(SplitDuration(90000.0), (DurationParts{1, 1, 0}));
    EXPECT_EQ(SplitDuration(3 * 86400.0 + 5 * 3600 + 7 * 60 + 59.9), (DurationParts{3, 5, 7}));
    EXPECT_EQ(SplitDuration(59.99), (DurationParts{0, 0, 0}));
    // A day, an hour or a minute exactly complete counts whole (never as 24:00 or xx:60).
    EXPECT_EQ(SplitDuration(86400.0), (DurationParts{1, 0, 0}));
    EXPECT_EQ(SplitDuration(2 * 86400.0), (DurationParts{2, 0, 0}));
    EXPECT_EQ(SplitDuration(3600.0), (DurationParts{0, 1, 0}));
    EXPECT_EQ(SplitDuration(60.0), (DurationParts{0, 0, 1}));
    EXPECT_EQ(SplitDuration(86399.9), (DurationParts{0, 23, 59}));
}

TEST(SplitDuration, UndefinedNegativeAndHugeDurationsNeverWrap) {
    EXPECT_EQ(SplitDuration(std::numeric_limits<double>::infinity()), (DurationParts{}));
    EXPECT_EQ(SplitDuration(-std::numeric_limits<double>::infinity()), (DurationParts{}));
    EXPECT_EQ(SplitDuration(std::numeric_limits<double>::quiet_NaN()), (DurationParts{}));
    EXPECT_EQ(SplitDuration(-1.0), (DurationParts{}));
    EXPECT_EQ(SplitDuration(-90000.0), (DurationParts{}));
    EXPECT_EQ(SplitDuration(65535 * 86400.0 + 3600), (DurationParts{65535, 1, 0}));
    EXPECT_EQ(SplitDuration(65536 * 86400.0), kLargestDuration);
    EXPECT_EQ(SplitDuration(1e30), kLargestDuration);
    EXPECT_EQ(SplitDuration(std::numeric_limits<double>::max()), kLargestDuration);
}

TEST(FormatDuration, BothClockSettings) {
    // Under a day both settings pad the hours.
    EXPECT_EQ(FormatDuration(0, 5, 7, false), "05:07");
    EXPECT_EQ(FormatDuration(0, 5, 7, true), "05:07");
    EXPECT_EQ(FormatDuration(0, 0, 0, false), "00:00");
    EXPECT_EQ(FormatDuration(1, 1, 0, false), "1 Day  01:00");
    EXPECT_EQ(FormatDuration(2, 2, 0, false), "2 Days  02:00");
    EXPECT_EQ(FormatDuration(1, 1, 0, true), "25:00");
    EXPECT_EQ(FormatDuration(2, 2, 0, true), "50:00");
    EXPECT_EQ(FormatDuration(1, 3, 5, true), "27:05");
    EXPECT_EQ(FormatDuration(65535, 23, 59, false), "65535 Days  23:59");
    EXPECT_EQ(FormatDuration(65535, 23, 59, true), "1572863:59");
}

class ClockTime : public UtcTest {};

TEST_F(ClockTime, TimeAloneOnTheSameDayNumberElseDayWithOrdinal) {
    std::time_t now = At(2024, 1, 21, 10, 0);
    EXPECT_EQ(FormatClockTime(At(2024, 1, 21, 19, 5), now, false), "7:05 PM");
    EXPECT_EQ(FormatClockTime(At(2024, 1, 21, 19, 5), now, true), "19:05");
    // Only the day number counts: a month later on the 21st shows the time alone.
    EXPECT_EQ(FormatClockTime(At(2024, 2, 21, 8, 30), now, false), "8:30 AM");
    // Hour 0 is 12 AM, hour 12 is 12 PM; the 24-hour clock pads the hour.
    EXPECT_EQ(FormatClockTime(At(2024, 1, 22, 0, 15), now, false), "22nd  12:15 AM");
    EXPECT_EQ(FormatClockTime(At(2024, 1, 22, 0, 15), now, true), "22nd  00:15");
    EXPECT_EQ(FormatClockTime(At(2024, 1, 21, 12, 0), now, false), "12:00 PM");
    EXPECT_EQ(FormatClockTime(At(2024, 1, 21, 11, 59), now, false), "11:59 AM");
    EXPECT_EQ(FormatClockTime(At(2024, 1, 21, 23, 59), now, false), "11:59 PM");
    EXPECT_EQ(FormatClockTime(At(2024, 1, 21, 9, 5), now, true), "09:05");
    EXPECT_EQ(FormatClockTime(At(2024, 2, 3, 19, 5), now, true), "3rd  19:05");
}

TEST_F(ClockTime, OrdinalSuffixes) {
    std::time_t now = At(2024, 1, 15, 10, 0);
    const std::pair<int, const char*> days[] = {{1, "1st"},   {2, "2nd"},   {3, "3rd"},   {4, "4th"},   {11, "11th"},
                                                {12, "12th"}, {13, "13th"}, {21, "21st"}, {22, "22nd"}, {23, "23rd"},
                                                {24, "24th"}, {30, "30th"}, {31, "31st"}};
    for (auto [day, text] : days)
        EXPECT_EQ(FormatClockTime(At(2024, 1, day, 19, 5), now, false), std::string(text) + "  7:05 PM") << day;
}

TEST_F(ClockTime, LogDateIsFixedWidthNumeric) {
    EXPECT_EQ(FormatLogDate(At(2024, 3, 5, 7, 8, 9)), "2024.03.05 07:08:09");
    EXPECT_EQ(FormatLogDate(At(1999, 12, 31, 23, 59, 59)), "1999.12.31 23:59:59");
}

TEST_F(ClockTime, FollowsTheLocalTimeZone) {
    test::SetTimeZone("EST5");
    std::time_t utcNoon = At(2024, 1, 21, 12, 0);
    EXPECT_EQ(FormatClockTime(utcNoon, utcNoon, false), "7:00 AM");
    EXPECT_EQ(FormatLogDate(At(2024, 1, 21, 2, 0)), "2024.01.20 21:00:00");
}

} // namespace
} // namespace vantrel
