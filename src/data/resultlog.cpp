#include "data/resultlog.h"

#include <climits>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <deque>
#include <utility>
#include <vector>

#include "data/datafile.h"
#include "data/filehandle.h"
#include "data/logformat.h"
#include "platform/fileops.h"

namespace vantrel {

namespace {
constexpr std::size_t kWriteChunk = 64 * 1024;

// Collects writes and passes them on in large pieces; remembers the first failure.
class CBufferedWriter {
public:
    explicit CBufferedWriter(platform::File& file) : m_file(file) {}

    void Write(std::string_view text) {
        m_buffer += text;
        if (m_buffer.size() >= kWriteChunk)
            Flush();
    }
    bool Flush() {
        if (m_bOk && !m_buffer.empty())
            m_bOk = m_file.WriteAll(m_buffer);
        m_buffer.clear();
        return m_bOk;
    }

private:
    platform::File& m_file;
    std::string m_buffer;
    bool m_bOk = true;
};

// Lines a quoted field may carry a record across; an unclosed quote in an old row never swallows
// more than this.
constexpr std::size_t kMostRecordLines = 64;

// The log's records: one line each, unless a quoted field goes on past its line end and closes
// properly later. A line whose quote never closes as RFC 4180 has it (an old row written without
// quoting) stays a record of its own, and the lines after it are read afresh.
class CRecordReader {
public:
    explicit CRecordReader(platform::File& file) : m_reader(file) {}

    CLineReader::ReadStatus ReadHeaderLine(std::string& line) { return m_reader.ReadLine(line); }

    CLineReader::ReadStatus ReadRecord(std::string& record) {
        std::string lineEnd;
        CLineReader::ReadStatus status = NextLine(record, lineEnd);
        if (status != CLineReader::ReadStatus::Line || !ScanCsvRecord(record).open)
            return status;
        // Read ahead until the quote closes; keep the lines so they can be given back.
        std::vector<std::pair<std::string, std::string>> ahead;
        std::string joined = record;
        std::string joinEnd = lineEnd;
        while (ahead.size() + 1 < kMostRecordLines && !joinEnd.empty()) {
            std::string line;
            std::string end;
            CLineReader::ReadStatus next = NextLine(line, end);
            if (next == CLineReader::ReadStatus::Error)
                return next;
            if (next == CLineReader::ReadStatus::End)
                break;
            joined += joinEnd;
            joined += line;
            joinEnd = end;
            ahead.emplace_back(std::move(line), std::move(end));
            CsvScan scan = ScanCsvRecord(joined);
            if (!scan.wellFormed)
                break;
            if (!scan.open) {
                record = std::move(joined);
                return status;
            }
        }
        // No proper record: the first line stands alone.
        for (auto it = ahead.rbegin(); it != ahead.rend(); ++it)
            m_pending.push_front(std::move(*it));
        return status;
    }

private:
    CLineReader::ReadStatus NextLine(std::string& line, std::string& lineEnd) {
        if (!m_pending.empty()) {
            line = std::move(m_pending.front().first);
            lineEnd = std::move(m_pending.front().second);
            m_pending.pop_front();
            return CLineReader::ReadStatus::Line;
        }
        CLineReader::ReadStatus status = m_reader.ReadLine(line);
        lineEnd = m_reader.LastLineEnd();
        return status;
    }

    CLineReader m_reader;
    std::deque<std::pair<std::string, std::string>> m_pending; // lines read ahead and given back
};

// Appends data at the end of the log; a write that fails part-way is cut off again, so the log
// never holds half a row.
bool AppendWhole(platform::File& log, std::uint64_t oldSize, std::string_view data) {
    if (log.WriteAll(data))
        return true;
    log.Truncate(oldSize);
    return false;
}

// Writes the current header and every old row under it into out.
bool RewriteRows(platform::File& oldLog, platform::File& out) {
    CBufferedWriter writer(out);
    writer.Write(LogHeader());
    const std::size_t headerCommas = CountUnquotedCommas(LogHeader());

    CRecordReader reader(oldLog);
    std::string record;
    // The old header is one line, whatever quotes it holds.
    CLineReader::ReadStatus status = reader.ReadHeaderLine(record);
    while (status == CLineReader::ReadStatus::Line) {
        status = reader.ReadRecord(record);
        if (status != CLineReader::ReadStatus::Line)
            break;
        writer.Write(kLogLineEnd);
        writer.Write(record);
        std::size_t commas = CountUnquotedCommas(record);
        if (commas < headerCommas)
            writer.Write(std::string(headerCommas - commas, ','));
    }
    if (status == CLineReader::ReadStatus::Error)
        return false;
    return writer.Flush();
}

// Where the file name starts in path, after the last separator the system knows ("\\" too on
// Windows).
std::size_t FileNameStart(const std::string& path) {
    return path.size() - std::filesystem::path(path).filename().string().size();
}
} // namespace

bool UpgradeLog(const std::string& path) {
    CFileHandle oldLog = OpenRegularFile(path, {.exclusive = true});
    if (!oldLog.IsValid())
        return false;

    std::string dirPart = path.substr(0, FileNameStart(path));
    std::string fileName = path.substr(dirPart.size());

    // The new log is built aside, so a failure at any point leaves the old one untouched.
    platform::TempFile newLog(path, "upgrade");
    if (!newLog.IsOpen() || !RewriteRows(oldLog, newLog.Get()) || !newLog.Get().CopyPermissionsFrom(oldLog) ||
        !newLog.Get().Sync())
        return false;

    std::string backup = FreeBackupName(dirPart + std::string(kBackupPrefix) + fileName);
    // Every row is copied by now; Windows refuses to move a file while it is open without
    // sharing, even to the handle's own holder.
    oldLog.Close();
    if (backup.empty() || !platform::MoveFile(path, backup))
        return false;
    if (!newLog.MoveTo(path, false)) {
        platform::MoveFile(backup, path);
        return false;
    }
    return true;
}

bool AppendToLog(const std::string& path, std::string_view row) {
    // A second round follows an upgrade; a header that differs again after it is not fought over.
    for (int round = 0; round < 2; ++round) {
        CFileHandle log = OpenRegularFile(path, {.write = true, .create = true, .append = true, .exclusive = true});
        std::optional<std::uint64_t> size = log.IsValid() ? log.Size() : std::nullopt;
        if (!size)
            return false;

        // Only the first line is read, so an append costs the same however long the log is.
        CLineReader reader(log);
        std::string firstLine;
        CLineReader::ReadStatus status = reader.ReadLine(firstLine);
        if (status == CLineReader::ReadStatus::Error)
            return false;
        if (status == CLineReader::ReadStatus::End)
            return AppendWhole(log, *size, LogHeader() + std::string(kLogLineEnd) + std::string(row));
        if (EqualsIgnoreCase(firstLine, LogHeader()))
            return AppendWhole(log, *size, std::string(kLogLineEnd) + std::string(row));
        log.Close();
        if (round > 0 || !UpgradeLog(path))
            return false;
    }
    return false;
}

bool LogHoldsRow(const std::string& path, std::string_view row) {
    CFileHandle log = OpenRegularFile(path, {});
    if (!log.IsValid())
        return false;
    CRecordReader reader(log);
    std::string record;
    if (reader.ReadHeaderLine(record) != CLineReader::ReadStatus::Line)
        return false;
    while (reader.ReadRecord(record) == CLineReader::ReadStatus::Line)
        if (record == row)
            return true;
    return false;
}

std::string FreeBackupName(const std::string& candidate) {
    if (!platform::PathExists(candidate))
        return candidate;
    // Only a "." in the file name starts the extension, never one in a directory name.
    std::size_t dot = candidate.rfind('.');
    bool hasExtension = dot != std::string::npos && dot >= FileNameStart(candidate);
    std::string base = hasExtension ? candidate.substr(0, dot) : candidate;
    std::string extension = hasExtension ? candidate.substr(dot + 1) : std::string();
    for (int n = 1; n < INT_MAX; ++n) {
        std::string name = base + "(" + std::to_string(n) + ")." + extension;
        if (!platform::PathExists(name))
            return name;
    }
    return {};
}

} // namespace vantrel
