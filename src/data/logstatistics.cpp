#include "data/logstatistics.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

#include "data/datafile.h"
#include "data/filehandle.h"
#include "data/logformat.h"
#include "data/resultlog.h"
#include "platform/fileops.h"
#include "platform/localtime.h"

namespace vantrel {

namespace {
constexpr std::size_t kReadChunk = 256 * 1024;
constexpr std::int32_t kSecondsPerDay = 86400;
constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Exactly `digits` decimal digits at text[at].
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t digits) {
    int value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// A processor time in seconds; none when the field is empty, not a number or negative.
std::optional<double> ParseSeconds(std::string_view text) {
    text = Trimmed(text);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0)
        return std::nullopt;
    return value;
}

// One result wherever it is found: its fields without the empty ones that an upgrade pads a row
// with. A 64-bit digest stands for the row, so a long log costs no copy of its text.
std::uint64_t RowKey(const CsvRecord& record) {
    std::size_t used = record.size();
    while (used > 0 && record[used - 1].empty())
        --used;
    std::uint64_t key = used;
    for (std::size_t i = 0; i < used; ++i) {
        key ^= std::hash<std::string_view>{}(record[i]) + 0x9e3779b97f4a7c15ULL + (key << 6) + (key >> 2);
        key ^= key >> 31;
        key *= 0xbf58476d1ce4e5b9ULL;
    }
    return key;
}

std::optional<std::size_t> FindColumn(const CsvRecord& header, std::string_view name) {
    for (std::size_t i = 0; i < header.size(); ++i)
        if (EqualsIgnoreCase(Trimmed(header[i]), name))
            return i;
    return std::nullopt;
}
} // namespace

std::int32_t DayOf(int year, unsigned month, unsigned day) {
    using namespace std::chrono;
    return static_cast<std::int32_t>(sys_days(std::chrono::year(year) / month / day).time_since_epoch().count());
}

std::optional<LogTime> ParseLogTime(std::string_view text) {
    text = Trimmed(text);
    // "YYYY.MM.DD HH:MM:SS"
    if (text.size() != 19 || text[4] != '.' || text[7] != '.' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    auto year = Digits(text, 0, 4);
    auto month = Digits(text, 5, 2);
    auto day = Digits(text, 8, 2);
    auto hour = Digits(text, 11, 2);
    auto minute = Digits(text, 14, 2);
    auto second = Digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 60)
        return std::nullopt;
    std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                                      std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok())
        return std::nullopt;
    return LogTime{DayOf(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day)),
                   *hour * 3600 + *minute * 60 + *second};
}

std::string FormatLogTime(const LogTime& time) {
    std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(time.Day))};
    char text[64];
    std::snprintf(text, sizeof text, "%04d.%02u.%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), time.Second / 3600,
                  time.Second / 60 % 60, time.Second % 60);
    return text;
}

std::string FormatDay(std::int32_t day) {
    std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(day))};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::int32_t LocalDay(std::time_t moment) {
    const auto local = platform::LocalTimeOf(moment);
    if (!local)
        return static_cast<std::int32_t>(moment / kSecondsPerDay);
    return DayOf(local->tm_year + 1900, static_cast<unsigned>(local->tm_mon + 1), static_cast<unsigned>(local->tm_mday));
}

bool IsPlausibleLogDay(std::int32_t day) {
    static const std::int32_t first = DayOf(1970, 1, 1);
    static const std::int32_t last = DayOf(2099, 12, 31);
    return day >= first && day <= last;
}

double DayTotals::HoursPerResult() const {
    return TimedResults == 0 ? 0.0 : CpuSeconds / TimedResults / 3600.0;
}

double LogStatistics::AveragePerDay(std::int32_t today, int days) const {
    if (days < 1 || !First)
        return 0.0;
    const std::int32_t from = std::max(today - days + 1, First->Day);
    if (from > today)
        return 0.0;
    std::uint64_t results = 0;
    for (const DayTotals& day : Days)
        if (day.Day >= from && day.Day <= today)
            results += day.Results;
    return static_cast<double>(results) / (today - from + 1);
}

// How far one log has been read: whether its header has been seen, and where its columns are.
class CLogStatistics::CFileState {
public:
    bool HeaderSeen = false;
    Columns Where;
    CsvRecord Record; // reused for every record
};

void CLogStatistics::AddRecord(CFileState& file, const CsvRecord& record) {
    if (!file.HeaderSeen) {
        file.HeaderSeen = true;
        // A log always starts with its header; one that starts with a row had lost it, and its rows
        // are read by the current layout.
        if (!record.empty() && !ParseLogTime(record.front())) {
            file.Where.Date = FindColumn(record, "date").value_or(COL_DATE);
            file.Where.Cpu = FindColumn(record, "cpu");
            if (!file.Where.Cpu)
                file.Where.Cpu = FindColumn(record, "cpu_time");
            file.Where.Name = FindColumn(record, "name");
            return;
        }
    }
    AddRow(file.Where, record);
}

void CLogStatistics::AddRow(const Columns& columns, const CsvRecord& record) {
    // A blank line is no row at all.
    if (record.size() == 1 && Trimmed(record.front()).empty())
        return;
    std::optional<LogTime> time;
    if (columns.Date < record.size())
        time = ParseLogTime(record[columns.Date]);
    if (!time || !IsPlausibleLogDay(time->Day)) {
        ++m_totals.SkippedRows;
        return;
    }
    if (!m_seen.insert(RowKey(record)).second) {
        ++m_totals.RepeatedRows;
        return;
    }
    auto field = [&record](const std::optional<std::size_t>& column) {
        return column && *column < record.size() ? std::string_view(record[*column]) : std::string_view();
    };

    DayTotals& day = m_days[time->Day];
    day.Day = time->Day;
    ++day.Results;
    ++m_totals.Results;
    if (std::optional<double> seconds = ParseSeconds(field(columns.Cpu))) {
        ++day.TimedResults;
        day.CpuSeconds += *seconds;
        ++m_totals.TimedResults;
        m_totals.CpuSeconds += *seconds;
    }
    if (!m_totals.First || *time < *m_totals.First)
        m_totals.First = time;
    if (!m_totals.Last || *time > *m_totals.Last)
        m_totals.Last = time;
}

CCsvReader::ERead CLogStatistics::ReadRecords(CFileState& file, CCsvReader& reader) {
    for (;;) {
        switch (reader.ReadRecord(file.Record)) {
        case CCsvReader::ERead::Record:
            AddRecord(file, file.Record);
            break;
        case CCsvReader::ERead::Bad:
            // A header that cannot be read still is the header, not a row.
            if (std::exchange(file.HeaderSeen, true))
                ++m_totals.SkippedRows;
            break;
        case CCsvReader::ERead::NeedMore:
            return CCsvReader::ERead::NeedMore;
        case CCsvReader::ERead::End:
            return CCsvReader::ERead::End;
        }
    }
}

bool CLogStatistics::AddLog(const std::string& path, const std::atomic<bool>* stop) {
    // Never locked: the transmit pass must be able to append while the log is read.
    CFileHandle file = OpenRegularFile(path, {});
    if (!file.IsValid()) {
        m_totals.FilesFailed.push_back(path);
        return false;
    }
    CFileState state;
    CCsvReader reader;
    std::string chunk;
    bool failed = false;
    while (ReadRecords(state, reader) == CCsvReader::ERead::NeedMore && (stop == nullptr || !stop->load())) {
        // A record longer than a chunk doubles the next read, so it is not scanned again and again.
        chunk.resize(std::max(kReadChunk, reader.Pending()));
        std::optional<std::size_t> got = file.Read(chunk.data(), chunk.size());
        if (got && *got > 0) {
            reader.Feed(std::string_view(chunk.data(), *got));
        } else {
            failed = !got;
            reader.Finish();
        }
    }
    (failed ? m_totals.FilesFailed : m_totals.FilesRead).push_back(path);
    return !failed;
}

void CLogStatistics::AddLogText(std::string_view text) {
    CFileState state;
    CCsvReader reader;
    reader.Feed(text);
    reader.Finish();
    ReadRecords(state, reader);
}

LogStatistics CLogStatistics::Result() const {
    LogStatistics result = m_totals;
    result.Days.reserve(m_days.size());
    for (const auto& [number, day] : m_days)
        result.Days.push_back(day);
    std::sort(result.Days.begin(), result.Days.end(),
              [](const DayTotals& a, const DayTotals& b) { return a.Day < b.Day; });
    return result;
}

std::vector<std::string> FindLogFiles(const std::string& programDir, bool withBackups) {
    std::vector<std::string> files;
    if (withBackups) {
        // "Backup of ORVALog.csv", then "Backup of ORVALog(1).csv", ...: oldest first, so each row is
        // first met in the log it was written to, under its own header.
        std::string stem(kLogFileName.substr(0, kLogFileName.rfind('.')));
        std::vector<std::string> backups;
        for (const platform::DirEntry& entry :
             platform::ListDirectory(programDir, std::string(kBackupPrefix) + stem + "*.csv")) {
            if (!entry.isDirectory && platform::IsRegularFile(platform::JoinPath(programDir, entry.name)))
                backups.push_back(entry.name);
        }
        std::sort(backups.begin(), backups.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        for (const std::string& name : backups)
            files.push_back(platform::JoinPath(programDir, name));
    }
    std::string log = platform::JoinPath(programDir, kLogFileName);
    if (platform::IsRegularFile(log))
        files.push_back(log);
    return files;
}

std::vector<DayTotals> ChartDays(const LogStatistics& statistics) {
    const std::vector<DayTotals>& days = statistics.Days;
    if (days.empty() || days.back().Day - days.front().Day >= kMaxFilledDays)
        return days;
    std::vector<DayTotals> filled;
    filled.reserve(static_cast<std::size_t>(days.back().Day - days.front().Day + 1));
    for (const DayTotals& day : days) {
        while (!filled.empty() && filled.back().Day + 1 < day.Day)
            filled.push_back(DayTotals{filled.back().Day + 1});
        filled.push_back(day);
    }
    return filled;
}

std::string FormatStatisticsCsv(const LogStatistics& statistics) {
    std::string text = "day,results,processor hours per result\r\n";
    for (const DayTotals& totals : ChartDays(statistics)) {
        // Not printf: the toolkit sets the user's locale, whose decimal comma would split the field.
        char hours[64];
        auto written = std::to_chars(hours, hours + sizeof hours, totals.HoursPerResult(), std::chars_format::fixed, 3);
        text += FormatDay(totals.Day);
        text += ',';
        text += std::to_string(totals.Results);
        text += ',';
        text.append(hours, written.ptr);
        text += "\r\n";
    }
    return text;
}

} // namespace vantrel
