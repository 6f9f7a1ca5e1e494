#pragma once

#include <map>
#include <string>
#include <vector>

// Accounting of work units between the simulated project server, the cache on disk and the CSV
// result log: what was handed out must be found exactly once, and every result sent must have
// exactly one whole row.
namespace vantrel::soak {

// What the simulated project server has seen.
struct ServerRecord {
    unsigned long handedOut = 0;                    // the last work-unit number handed out
    std::map<unsigned long, unsigned> copies;       // number -> result files received for it
    std::map<unsigned long, std::string> names;     // number -> the work unit's name
    std::vector<std::string> problems;              // files the accounting cannot place
};
ServerRecord ReadServer(const std::string& serverDir);

// One client file of an instance that carries a work unit.
struct Place {
    std::string where; // "3/result.orv"
    bool isResult = false;
    std::string name;
};

// Where each work unit lies in the cache.
struct CacheRecord {
    std::vector<unsigned> directories;                  // numbered instance directories, ascending
    std::map<unsigned long, std::vector<Place>> places; // number -> its files (work unit and result of
                                                        // one run count once)
    unsigned partials = 0;                              // instances with only a partial download
    unsigned retired = 0;                               // instances with the stop-after-send marker
};
CacheRecord ReadCache(const std::string& programDir);
// While the program runs, only these two may look into the cache: they open no file. A read of
// ours, under Windows, would keep the program's exclusive read of a result out, and its log row
// would lose the columns of that file.
// The numbered instance directories, ascending.
std::vector<unsigned> InstanceDirectories(const std::string& programDir);
// Whether no instance holds a work unit, a result or a partial download.
bool IsCacheEmptied(const std::string& programDir);

// Whether the directories are exactly 1..N.
bool IsGapFree(const CacheRecord& cache);

// Every number the server handed out lies in one place of the cache or was received once; a
// result that was received and is still in its instance (sent, not yet deleted) also counts as
// one. What does not hold, one line each.
std::vector<std::string> FindLostWork(const ServerRecord& server, const CacheRecord& cache);

struct LogRecord {
    std::size_t rows = 0;
    std::map<std::string, unsigned> names; // work-unit name -> rows
    std::vector<std::string> problems;     // a bad header, torn rows, CSV errors
};
// The log read as a spreadsheet would: the current header, then rows of its 84 fields.
LogRecord ReadLog(const std::string& path);

// Every result the server received has exactly one row; every row belongs to a result that was
// received or still waits in the cache. What does not hold, one line each.
std::vector<std::string> FindLogGaps(const ServerRecord& server, const CacheRecord& cache, const LogRecord& log);

// The ledger after a drained run: every work unit handed out came back exactly once, none is lost,
// and every result has exactly one log row. problems: what does not hold, one line each.
struct DrainedLedger {
    ServerRecord server;
    CacheRecord cache;
    LogRecord log;
    std::vector<std::string> problems;
};
DrainedLedger ReadDrainedLedger(const std::string& programDir, const std::string& serverDir);

// Lines joined for a failure message.
std::string Lines(const std::vector<std::string>& lines, std::size_t most = 20);

} // namespace vantrel::soak
