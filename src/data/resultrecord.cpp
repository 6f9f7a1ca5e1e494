#include "data/resultrecord.h"

#include <optional>
#include <string_view>
#include <vector>

#include "core/cachestore.h"
#include "core/clientcontract.h"
#include "data/datafile.h"
#include "data/filehandle.h"
#include "data/logmarker.h"
#include "data/resultlog.h"
#include "data/timeformat.h"
#include "platform/fileops.h"

namespace vantrel {

namespace {
constexpr std::string_view kNameKey = "name=";

struct KnownKey {
    std::string Key; // with its "="
    std::size_t Column;
};

// Every data-file key that fills a column, except "name=", whose column depends on the file.
const std::vector<KnownKey>& KnownKeys() {
    static const std::vector<KnownKey> keys = [] {
        std::vector<KnownKey> list;
        for (std::size_t column = 0; column < kLogColumnCount; ++column) {
            if (column == COL_DATE || column == COL_ID || column == COL_KEY || column == COL_USER_NAME ||
                column == COL_NAME || column == COL_CPU)
                continue;
            list.push_back({std::string(kLogColumnNames[column]) + "=", column});
        }
        list.push_back({"user_id=", COL_ID});
        list.push_back({"user_key=", COL_KEY});
        list.push_back({"cpu_time=", COL_CPU});
        return list;
    }();
    return keys;
}

std::optional<std::size_t> ColumnOfKey(std::string_view key, bool fromUserInfo) {
    if (EqualsIgnoreCase(key, kNameKey))
        return fromUserInfo ? COL_USER_NAME : COL_NAME;
    for (const KnownKey& known : KnownKeys())
        if (EqualsIgnoreCase(key, known.Key))
            return known.Column;
    return std::nullopt;
}
} // namespace

ResultRecord::ResultRecord(const CCacheStore& store, const std::atomic<bool>& logEnabled)
    : LogThisRecord(logEnabled.load()), m_store(store) {}

void ResultRecord::GatherResult(std::uint32_t n) {
    m_nInstance = n;
    InstanceDir = m_store.GetInstancePath(n);
    ReadDataFile(platform::JoinPath(InstanceDir, contract::kUserInfoFile));
    ReadDataFile(platform::JoinPath(InstanceDir, contract::kPartialFile));
    ReadDataFile(platform::JoinPath(InstanceDir, contract::kStateFile));
    std::string resultPath = platform::JoinPath(InstanceDir, contract::kResultFile);
    if (std::optional<std::int64_t> written = platform::LastWriteTime(resultPath))
        Columns[COL_DATE] = FormatLogDate(static_cast<std::time_t>(*written));
    ReadDataFile(resultPath);
    Complete = true;
}

void ResultRecord::ReadDataFile(const std::string& path) {
    // Exclusive: a file the client is writing at this moment is passed over, never read half-done.
    CFileHandle file = OpenRegularFile(path, {.exclusive = true});
    if (!file.IsValid())
        return;
    bool fromUserInfo = EqualsIgnoreCase(platform::FileNamePart(path), contract::kUserInfoFile);
    CLineReader reader(file);
    std::string line;
    // A read error part-way keeps what was read before it.
    while (reader.ReadLine(line) == CLineReader::ReadStatus::Line) {
        RecordLine parts = SplitRecordLine(line);
        if (std::optional<std::size_t> column = ColumnOfKey(parts.Key, fromUserInfo))
            Columns[*column] = parts.Value;
    }
}

bool ResultRecord::WriteRow() {
    bool written = false;
    if (LogThisRecord && Complete) {
        RowText = QuoteField(Columns[0]);
        for (std::size_t column = 1; column < kLogColumnCount; ++column) {
            RowText += ',';
            RowText += QuoteField(Columns[column]);
        }
        written = AppendRowOnce();
    }
    ClearRecord();
    return written;
}

bool ResultRecord::AppendRowOnce() const {
    const std::string logPath = platform::JoinPath(m_store.GetProgramDir(), kLogFileName);
    // A note left from an earlier run: it may have died after the append, before the marker.
    if (HasLogPending(m_store, m_nInstance) && LogHoldsRow(logPath, RowText))
        return true;
    SetLogPending(m_store, m_nInstance, true);
    if (AppendToLog(logPath, RowText))
        return true;
    // The log is as it was, without the row.
    SetLogPending(m_store, m_nInstance, false);
    return false;
}

void ResultRecord::ClearRecord() {
    Complete = false;
    for (std::string& column : Columns)
        column.clear();
}

} // namespace vantrel
