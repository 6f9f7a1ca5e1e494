#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "data/datafile.h"
#include "data/filehandle.h"

namespace vantrel {

class CCacheStore;

// The figures of one progress update. All three texts are empty and Fraction is 0 when nothing
// could be read.
struct ProgressFigures {
    float Fraction = 0.0f;      // the "prog=" value as read (0 to 1)
    std::string TotalText;      // estimated total processor time, as a duration
    std::string LeftText;       // estimated processor time still needed, as a duration
    std::string CompletionText; // local time at which the work unit will be finished
};

// What one reading of a state file yields; 0 for a key that is missing.
struct ProgressValues {
    float Cpu = 0.0f;  // processor seconds so far ("cpu=")
    float Prog = 0.0f; // fraction done ("prog=")
};

// The figures worked out from the values: total = cpu / prog, left = total - cpu, completion =
// now plus the whole minutes of left.
ProgressFigures MakeProgressFigures(const ProgressValues& values, bool use24HourClock, std::time_t now);

// Watches the progress of one work unit through its instance's "state.orv". The reader of that
// file stays open from one update to the next while the same file is watched; it is opened
// read-only, never created, and reopened when the watched instance changes or the file at that
// path was replaced. Used on the dialog's thread only.
class CProgressMonitor {
public:
    explicit CProgressMonitor(const CCacheStore& store);
    ~CProgressMonitor();
    CProgressMonitor(const CProgressMonitor&) = delete;
    CProgressMonitor& operator=(const CProgressMonitor&) = delete;

    // The figures for watchedInstance (0: none, then no file is touched) at time now.
    ProgressFigures UpdateProgress(std::uint32_t watchedInstance, bool use24HourClock, std::time_t now);

    // Reads "cpu=" and "prog=" from the state file at path, stopping once both have been seen.
    // Empty when the file cannot be opened or reading it fails.
    std::optional<ProgressValues> ReadProgressValues(const std::string& path);

    // Whether the state-file reader is open now.
    bool IsReaderOpen() const { return m_file.IsValid(); }

private:
    std::optional<ProgressValues> ReadWithReader(const std::string& path);
    bool OpenReader(const std::string& path);
    void CloseReader();

    const CCacheStore& m_store;
    std::string m_strReaderPath;
    CFileHandle m_file;
    std::optional<CLineReader> m_reader;
};

} // namespace vantrel
