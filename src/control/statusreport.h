#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/cachestore.h"

// What `vantrel --status` tells: the dialog's counters, the watched work unit, the transmit
// passes and the retry timer of one program directory, as text, JSON or Prometheus metrics.
namespace vantrel {

struct StatusReport {
    std::string ProgramDir;
    bool Running = false; // a copy answered; otherwise the counters were read from the disk
    CacheCounters Counters;
    // The watched work unit, while progress is monitored (WatchedInstance 0: none).
    bool MonitorProgress = false;
    std::uint32_t WatchedInstance = 0;
    double ProgressPercent = 0.0;
    std::string TotalText;      // estimated processor time in all
    std::string LeftText;       // estimated processor time still needed
    std::string CompletionText; // when it will be done, as the window shows it
    bool TransmitRunning = false;
    std::int64_t LastPassEndedAt = 0;   // seconds since the epoch; 0: no pass yet
    std::string LastPassOutcome;        // "succeeded", "failed" or empty
    bool RetryTimerArmed = false;
    std::int64_t RetryDueInSeconds = 0; // while armed
    bool LogUnwritable = false;         // the CSV log refuses rows; results wait for them
    unsigned LogRowsLost = 0;           // results sent without their rows since the start
};

// The report over the socket between copies: one "key=value" line per field.
std::string EncodeStatus(const StatusReport& report);
// None when text holds no report (an older copy, or something else answered).
std::optional<StatusReport> DecodeStatus(std::string_view text);

// For a person, for scripts (one JSON object) and for Prometheus' text format.
std::string FormatStatusText(const StatusReport& report);
std::string FormatStatusJson(const StatusReport& report);
std::string FormatStatusPrometheus(const StatusReport& report);

// The counters as the cache on disk shows them, with no copy running (nothing processes then).
StatusReport ReadStatusFromDisk(const std::string& programDir, const std::string& ownFileName);

} // namespace vantrel
