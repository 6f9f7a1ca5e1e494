// Reading the result log for the statistics: rows counted on the day they name, whatever the
// time zone; old layouts and bad rows; a row held by the log and its backup counted once.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "data/logformat.h"
#include "data/logstatistics.h"
#include "data/resultlog.h"
#include "platform/fileops.h"
#include "support/samplelog.h"
#include "support/tempdir.h"

namespace vantrel {
namespace {

using test::SampleLogRow;

// Runs the body under each time zone, restoring the process's own afterwards.
class TimeZones {
public:
    TimeZones() {
        if (const char* tz = std::getenv("TZ"))
            m_old = tz;
    }
    ~TimeZones() { test::SetTimeZone(m_old); }
    static void Use(const char* zone) { test::SetTimeZone(zone); }

private:
    std::optional<std::string> m_old;
};

std::string Row(const char* date, const std::string& name, const char* cpu) {
    std::string row = SampleLogRow({}, name, 0, 1);
    // The sample row's own date and processor time give way to the test's texts, as written.
    CsvDocument doc = ReadCsv(row);
    CsvRecord fields = doc.records.at(0);
    fields[COL_DATE] = date;
    fields[COL_CPU] = cpu;
    std::string text;
    for (const std::string& field : fields)
        text += (text.empty() ? "" : ",") + QuoteField(field);
    return text;
}

LogStatistics Read(const std::string& text) {
    CLogStatistics statistics;
    statistics.AddLogText(text);
    return statistics.Result();
}

std::int32_t Day(int year, unsigned month, unsigned day) {
    return DayOf(year, month, day);
}

TEST(LogStatistics, CountsRowsOnTheDayTheyNameInAnyTimeZoneAndOrder) {
    // Out of order, at midnight, a second before it, and in the hour that daylight saving skips
    // in Europe.
    const std::string log = LogHeader() + "\r\n" + Row("2026.03.29 02:30:00", "c", "7200") + "\r\n" +
                            Row("2026.03.01 00:00:00", "b", "3600") + "\r\n" +
                            Row("2026.02.28 23:59:59", "a", "1800") + "\r\n" +
                            Row("2026.03.01 12:00:00", "d", "5400");
    TimeZones zones;
    for (const char* zone : {"UTC0", "America/Los_Angeles", "Asia/Kolkata", "Europe/Berlin", "Pacific/Auckland"}) {
        TimeZones::Use(zone);
        LogStatistics stats = Read(log);
        ASSERT_EQ(stats.Days.size(), 3u) << zone;
        EXPECT_EQ(stats.Days[0].Day, Day(2026, 2, 28)) << zone;
        EXPECT_EQ(stats.Days[0].Results, 1u);
        EXPECT_EQ(stats.Days[1].Day, Day(2026, 3, 1)) << zone;
        EXPECT_EQ(stats.Days[1].Results, 2u);
        EXPECT_DOUBLE_EQ(stats.Days[1].HoursPerResult(), 1.25);
        EXPECT_EQ(stats.Days[2].Day, Day(2026, 3, 29)) << zone;
        EXPECT_EQ(stats.Results, 4u);
        EXPECT_DOUBLE_EQ(stats.CpuSeconds, 18000);
        EXPECT_EQ(FormatLogTime(*stats.First), "2026.02.28 23:59:59") << zone;
        EXPECT_EQ(FormatLogTime(*stats.Last), "2026.03.29 02:30:00") << zone;
        EXPECT_EQ(stats.SkippedRows, 0u);
    }

    // "Today" is the local day: the same moment is the 10th in Los Angeles and the 11th in
    // Auckland, and the averages follow it.
    const std::string recent = LogHeader() + "\r\n" + Row("2026.03.11 08:00:00", "x", "60") + "\r\n" +
                               Row("2026.03.09 08:00:00", "y", "60") + "\r\n" + Row("2026.01.01 08:00:00", "z", "60");
    const auto now = static_cast<std::time_t>(test::UtcSeconds(2026, 3, 10, 20));
    TimeZones::Use("America/Los_Angeles");
    const std::int32_t westToday = LocalDay(now);
    EXPECT_EQ(westToday, Day(2026, 3, 10));
    LogStatistics stats = Read(recent);
    // The 11th is still to come there: one result in the last seven days.
    EXPECT_DOUBLE_EQ(stats.AveragePerDay(westToday, 7), 1.0 / 7);
    TimeZones::Use("Pacific/Auckland");
    const std::int32_t eastToday = LocalDay(now);
    EXPECT_EQ(eastToday, Day(2026, 3, 11));
    EXPECT_DOUBLE_EQ(stats.AveragePerDay(eastToday, 7), 2.0 / 7);
    EXPECT_DOUBLE_EQ(stats.AveragePerDay(eastToday, 30), 2.0 / 30);

    // A log younger than the window is averaged over the days it covers.
    LogStatistics young = Read(LogHeader() + "\r\n" + Row("2026.03.10 08:00:00", "p", "60") + "\r\n" +
                               Row("2026.03.11 09:00:00", "q", "60"));
    EXPECT_DOUBLE_EQ(young.AveragePerDay(Day(2026, 3, 11), 30), 1.0);
    EXPECT_DOUBLE_EQ(LogStatistics{}.AveragePerDay(Day(2026, 3, 11), 7), 0.0);
}

TEST(LogStatistics, ReadsOldLayoutsAndCountsTheRowsItSkips) {
    // An older layout: fewer columns, the processor time and the name elsewhere.
    const std::string old = "\"date\",\"id\",\"name\",\"cpu\",\"prog\"\r\n"
                            "2024.05.01 10:00:00,17,\"wu one\",3600,\"0.5\"\r\n"
                            "2024.05.01 11:00:00,17,\"wu two\",\"not a time\",\"0.5\"\r\n"
                            "2024.05.02 10:00:00,17,\"wu three\"\r\n"
                            "2024/05/03 10:00:00,17,\"a bad date\",60,1\r\n"
                            "2024.02.30 10:00:00,17,\"no such day\",60,1\r\n"
                            "2024.05.04 10:00:00,17,\"a \"stray\" quote\",60,1\r\n"
                            "\r\n"
                            "2024.05.04 12:00:00,17,\"wu four\",1800,1";
    LogStatistics stats = Read(old);
    EXPECT_EQ(stats.Results, 4u);
    EXPECT_EQ(stats.TimedResults, 2u) << "a row without a readable time still counts as a result";
    EXPECT_DOUBLE_EQ(stats.CpuSeconds, 5400);
    EXPECT_EQ(stats.SkippedRows, 3u) << "bad date, impossible date, stray quote; the blank line is no row";
    ASSERT_EQ(stats.Days.size(), 3u);
    EXPECT_EQ(stats.Days[0].Results, 2u);
    EXPECT_DOUBLE_EQ(stats.Days[0].HoursPerResult(), 1.0);

    // Rows of 84 columns under an upgraded log, rows of 83 padded by the upgrade, and a row cut
    // short before the processor time: all of them results.
    std::string row84 = Row("2024.06.01 10:00:00", "full", "3600");
    std::string row83 = row84.substr(0, row84.rfind(','));
    std::string shortRow = "2024.06.02 10:00:00,1,2";
    LogStatistics current = Read(LogHeader() + "\r\n" + row84 + "\r\n" +
                                 Row("2024.06.01 11:00:00", "padded", "7200") + "," + "\r\n" + shortRow);
    EXPECT_EQ(current.Results, 3u);
    EXPECT_EQ(current.TimedResults, 2u);
    EXPECT_EQ(current.SkippedRows, 0u);
    EXPECT_EQ(Read(LogHeader() + "\r\n" + row83).Results, 1u);

    // A log that lost its header is read by the current layout; one whose header is unreadable too.
    EXPECT_EQ(Read(row84 + "\r\n" + shortRow).Results, 2u);
    LogStatistics brokenHeader = Read("\"date\",\"id\"x,\"cpu\"\r\n" + row84);
    EXPECT_EQ(brokenHeader.Results, 1u);
    EXPECT_EQ(brokenHeader.SkippedRows, 0u);
    EXPECT_DOUBLE_EQ(brokenHeader.CpuSeconds, 3600);
}

TEST(LogStatistics, CountsARowOnceInTheLogAndItsBackupsAndNeverLocksTheLog) {
    test::TempDir dir;
    const std::string log = dir / "ORVALog.csv";
    // An old log upgraded by the writer: its rows go to the backup and into the new log.
    {
        std::ofstream old(log, std::ios::binary);
        old << "\"date\",\"name\",\"cpu\"\r\n2024.01.01 10:00:00,\"old one\",3600\r\n2024.01.02 10:00:00,\"old two\",3600";
    }
    ASSERT_TRUE(AppendToLog(log, Row("2024.01.03 10:00:00", "new", "3600")));
    ASSERT_TRUE(UpgradeLog(log));
    ASSERT_TRUE(AppendToLog(log, Row("2024.01.04 10:00:00", "newer", "3600")));
    {
        std::ofstream stray(dir.Path() + "/Backup of notes.csv");
        stray << "2024.01.05 10:00:00";
    }

    const std::vector<std::string> files = FindLogFiles(dir.Path(), true);
    ASSERT_EQ(files, (std::vector<std::string>{dir / "Backup of ORVALog.csv", dir / "Backup of ORVALog(1).csv", log}));
    EXPECT_EQ(FindLogFiles(dir.Path(), false), (std::vector<std::string>{log}));

    CLogStatistics statistics;
    for (const std::string& file : files)
        EXPECT_TRUE(statistics.AddLog(file));
    LogStatistics stats = statistics.Result();
    EXPECT_EQ(stats.Results, 4u);
    EXPECT_EQ(stats.RepeatedRows, 5u) << "the two old rows in the second backup, three rows in the log";
    // The old rows count with their processor time, read under their own header.
    EXPECT_EQ(stats.TimedResults, 4u);
    EXPECT_DOUBLE_EQ(stats.CpuSeconds, 4 * 3600.0);
    EXPECT_EQ(stats.FilesRead.size(), 3u);

    // Reading leaves the log free for the writer, and never changes it.
    std::string before = *platform::ReadFileText(log);
    {
        CLogStatistics again;
        EXPECT_TRUE(again.AddLog(log));
        EXPECT_TRUE(AppendToLog(log, Row("2024.01.06 10:00:00", "while read", "60")));
    }
    EXPECT_EQ(platform::ReadFileText(log)->substr(0, before.size()), before);

    CLogStatistics missing;
    EXPECT_FALSE(missing.AddLog(dir.Path() + "/nothing.csv"));
    EXPECT_EQ(missing.Result().FilesFailed.size(), 1u);
    EXPECT_TRUE(FindLogFiles(dir.Path() + "/nothing", true).empty());
}

TEST(LogStatistics, ReadsAYearLogInPiecesAndAnswersAStop) {
    test::TempDir dir;
    const std::string log = dir.Path() + "/ORVALog.csv";
    test::SampleLogShape shape;
    shape.rows = 5000;
    const std::string text = test::SampleLogText(shape);
    {
        std::ofstream out(log, std::ios::binary);
        out << text;
    }
    CLogStatistics fromFile;
    ASSERT_TRUE(fromFile.AddLog(log));
    LogStatistics stats = fromFile.Result();
    EXPECT_EQ(stats.Results, 5000u);
    EXPECT_EQ(stats.TimedResults, 5000u);
    EXPECT_EQ(stats.SkippedRows, 0u);
    EXPECT_EQ(stats.First->Day, shape.firstDay);
    EXPECT_LT(stats.Last->Day, shape.firstDay + 365);
    std::uint64_t perDay = 0;
    for (const DayTotals& day : stats.Days)
        perDay += day.Results;
    EXPECT_EQ(perDay, 5000u);

    std::atomic<bool> stop{true};
    CLogStatistics stopped;
    stopped.AddLog(log, &stop);
    EXPECT_EQ(stopped.Result().Results, 0u);
}

TEST(LogStatistics, WritesTheChartDataAsCsvWithEveryDay) {
    LogStatistics stats = Read(LogHeader() + "\r\n" + Row("2024.02.28 10:00:00", "a", "5400") + "\r\n" +
                               Row("2024.03.01 10:00:00", "b", "3600") + "\r\n" +
                               Row("2024.03.01 11:00:00", "c", ""));
    EXPECT_EQ(FormatStatisticsCsv(stats), "day,results,processor hours per result\r\n"
                                          "2024-02-28,1,1.500\r\n"
                                          "2024-02-29,0,0.000\r\n"
                                          "2024-03-01,2,1.000\r\n");
    EXPECT_EQ(FormatStatisticsCsv({}), "day,results,processor hours per result\r\n");
    EXPECT_EQ(FormatDay(Day(1999, 12, 31)), "1999-12-31");
    EXPECT_FALSE(ParseLogTime("2024.13.01 10:00:00"));
    EXPECT_FALSE(ParseLogTime("2024.01.01 24:00:00"));
    EXPECT_EQ(FormatLogTime(*ParseLogTime(" 2024.01.01 00:00:00 ")), "2024.01.01 00:00:00");
}

// A tiny log whose dates span millennia, or a huge one of junk: what the statistics cost follows the
// rows. Dates no clock of this program's users shows are rows that could not be read.
TEST(LogStatistics, CostFollowsTheRowsNotTheDatesOrTheFileSize) {
    LogStatistics stats = Read(LogHeader() + "\r\n" + Row("0001.01.01 00:00:00", "a", "60") + "\r\n" +
                               Row("9999.12.31 23:59:59", "b", "60") + "\r\n" + Row("1969.12.31 10:00:00", "c", "60") +
                               "\r\n" + Row("2024.05.01 10:00:00", "d", "60"));
    EXPECT_EQ(stats.Results, 1u);
    EXPECT_EQ(stats.SkippedRows, 3u);
    ASSERT_EQ(stats.Days.size(), 1u);
    EXPECT_EQ(stats.First->Day, Day(2024, 5, 1));

    // Two results 125 years apart: two days on the chart and in its data, not 45,000.
    stats = Read(LogHeader() + "\r\n" + Row("1970.01.01 00:00:00", "a", "60") + "\r\n" +
                 Row("2099.12.31 23:59:59", "b", "60"));
    EXPECT_EQ(stats.Results, 2u);
    EXPECT_EQ(FormatStatisticsCsv(stats), "day,results,processor hours per result\r\n"
                                          "1970-01-01,1,0.017\r\n"
                                          "2099-12-31,1,0.017\r\n");
    // A span that a real log has still shows its empty days.
    stats = Read(LogHeader() + "\r\n" + Row("2016.01.01 00:00:00", "a", "60") + "\r\n" +
                 Row("2024.12.31 23:59:59", "b", "60"));
    const std::string csv = FormatStatisticsCsv(stats);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + Day(2024, 12, 31) - Day(2016, 1, 1) + 1);

    // A sparse file of 64 MB of NULs between two rows is one row that could not be read.
    test::TempDir dir;
    const std::string log = dir / "ORVALog.csv";
    test::WriteFile(log, LogHeader() + "\r\n" + Row("2024.05.01 10:00:00", "a", "60") + "\r\n");
    std::filesystem::resize_file(log, 64 << 20);
    {
        std::ofstream tail(log, std::ios::binary | std::ios::app);
        tail << "\r\n" << Row("2024.05.02 10:00:00", "b", "60") << "\r\n";
    }
    CLogStatistics statistics;
    EXPECT_TRUE(statistics.AddLog(log));
    stats = statistics.Result();
    EXPECT_EQ(stats.Results, 2u);
    EXPECT_EQ(stats.SkippedRows, 1u);
}

} // namespace
} // namespace vantrel
