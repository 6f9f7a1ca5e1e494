#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "data/logformat.h"

namespace vantrel {

class CCacheStore;

// One finished result on its way into the CSV log, gathered from the client's data files in its
// instance directory. Lives for the handling of one instance in one transmit pass.
class ResultRecord {
public:
    // LogThisRecord is logEnabled's value now: a later change applies from the next record on.
    ResultRecord(const CCacheStore& store, const std::atomic<bool>& logEnabled);

    // Fills the record from instance n: "user_info.orv", "wtemp.orv", "state.orv", the last-write
    // time of "result.orv" as the date, then "result.orv"; a later file wins for the same key.
    void GatherResult(std::uint32_t n);

    // Reads one data file into Columns by the record rule. A file that does not exist or that
    // another process holds cannot be opened: the columns it would have filled stay as they were.
    void ReadDataFile(const std::string& path);

    // Builds the row and appends it to the program directory's log when this record is to be
    // logged and complete; always ends with ClearRecord. True when a row was appended, or was
    // found there already after a run that ended before the instance's log marker was set.
    bool WriteRow();

    void ClearRecord();

    std::string InstanceDir;
    std::string RowText;
    bool Complete = false;
    bool LogThisRecord = false;
    std::array<std::string, kLogColumnCount> Columns;

private:
    bool AppendRowOnce() const;

    const CCacheStore& m_store;
    std::uint32_t m_nInstance = 0;
};

} // namespace vantrel
