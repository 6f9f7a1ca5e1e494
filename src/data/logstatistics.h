#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "data/csvreader.h"
#include "data/logformat.h"

// What the result log says about the user's contribution: results and processor time per day,
// and the totals. The log is only ever read here.
namespace vantrel {

// A date and time of the log's date column: the civil time of the machine that wrote the row,
// with no time zone. Rows are counted on the day they name, whatever the reader's zone is now.
struct LogTime {
    std::int32_t Day = 0;    // days since 1970.01.01 in the civil calendar
    std::int32_t Second = 0; // of that day, 0 to 86400 (a leap second)

    auto operator<=>(const LogTime&) const = default;
};

// "%Y.%m.%d %H:%M:%S" with a real calendar date, blanks around it allowed; none otherwise.
std::optional<LogTime> ParseLogTime(std::string_view text);
// Back to the log's own form, "2026.03.01 00:00:00".
std::string FormatLogTime(const LogTime& time);
// A day as "2026-03-01".
std::string FormatDay(std::int32_t day);
// The day number of a civil date.
std::int32_t DayOf(int year, unsigned month, unsigned day);
// The local day (in the time zone of this process) of a moment: "today" for the averages.
std::int32_t LocalDay(std::time_t moment);

struct DayTotals {
    std::int32_t Day = 0;
    std::uint32_t Results = 0;
    std::uint32_t TimedResults = 0; // those with a readable processor time
    double CpuSeconds = 0;

    // Mean processor hours per timed result; 0 without any.
    double HoursPerResult() const;
};

struct LogStatistics {
    std::vector<DayTotals> Days; // ascending, days with at least one result
    std::uint64_t Results = 0;
    std::uint64_t TimedResults = 0;
    double CpuSeconds = 0;
    std::optional<LogTime> First;
    std::optional<LogTime> Last;
    std::uint64_t SkippedRows = 0;  // rows that could not be read
    std::uint64_t RepeatedRows = 0; // rows of a result already counted (a backup holds them too)
    std::vector<std::string> FilesRead;
    std::vector<std::string> FilesFailed; // could not be opened or read to the end

    // Results per day over the days-long window that ends with today: counted from the first
    // result's day when that lies inside the window, so a young log is not averaged down.
    double AveragePerDay(std::int32_t today, int days) const;
};

// Collects the rows of one or more logs. A row counts once however many logs hold it: an upgrade
// carries every row of the old log into the new one (padded, and in the old columns), and the
// backup keeps them too. Rows are read by the header of their own log.
class CLogStatistics {
public:
    // Reads the log at path to its end. False (noted in FilesFailed) when it could not be opened
    // or read; the rows read before a read error still count. stop, when given and set, ends the
    // reading early.
    bool AddLog(const std::string& path, const std::atomic<bool>* stop = nullptr);
    // The same for text in memory.
    void AddLogText(std::string_view text);
    // Notes a log that could not be read to its end.
    void NoteFailed(const std::string& path) { m_totals.FilesFailed.push_back(path); }

    LogStatistics Result() const;

private:
    // Where the fields are in this log's rows; a log without a readable header has the current
    // layout.
    struct Columns {
        std::size_t Date = COL_DATE;
        std::optional<std::size_t> Cpu = COL_CPU;
        std::optional<std::size_t> Name = COL_NAME;
    };
    class CFileState;

    // Adds every record the reader holds; NeedMore or End.
    CCsvReader::ERead ReadRecords(CFileState& file, CCsvReader& reader);
    void AddRecord(CFileState& file, const CsvRecord& record);
    void AddRow(const Columns& columns, const CsvRecord& record);

    std::unordered_map<std::int32_t, DayTotals> m_days;
    std::unordered_set<std::uint64_t> m_seen; // RowKey of every row counted
    LogStatistics m_totals; // everything but Days
};

// The log in the program directory and, with backups, every "Backup of ORVALog*.csv" beside it,
// the backups first, oldest first. Only the files that exist.
std::vector<std::string> FindLogFiles(const std::string& programDir, bool withBackups);

// The days a row may carry, 1970.01.01 to 2099.12.31; a row dated outside is one that could not be
// read (a damaged clock or file), so a stray year cannot stretch the chart over millennia.
bool IsPlausibleLogDay(std::int32_t day);

// The days the chart shows, ascending: every day from the first to the last result, days without
// a result included with zeros, as long as that span is at most kMaxFilledDays; a longer span shows
// only the days with results, so the chart costs what the rows cost, not what the dates span.
inline constexpr std::int32_t kMaxFilledDays = 10 * 366;
std::vector<DayTotals> ChartDays(const LogStatistics& statistics);

// The chart data as CSV text: a header line, then one line per day of ChartDays with the results
// and the processor hours per result.
std::string FormatStatisticsCsv(const LogStatistics& statistics);

} // namespace vantrel
