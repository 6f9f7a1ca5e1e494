#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

enum EServerMode : int { SM_NONE = 0, SM_PROXY = 1, SM_SOCKS = 2 };
enum EClientPriority : int { CP_LOW = 0, CP_NORMAL = 1, CP_HIGH = 2 };

// Transfers that fail this long are worth a notification, unless "-notify N" says otherwise.
inline constexpr unsigned kDefaultNotifyAfterHours = 6;
inline constexpr unsigned kMaxNotifyAfterHours = 8760; // a year

// The largest MaxProcesses: more would exhaust memory and threads.
inline constexpr unsigned kMaxProcessesLimit = 4096;
// The largest DesiredCacheSize: each instance is a directory made on the dialog's thread, so a
// mistyped huge number would freeze the window and fill the disk with directories.
inline constexpr unsigned kDesiredCacheSizeLimit = 10'000;

// The option set, without a toolkit. The dialog mirrors these fields both ways. Numbers and texts
// belong to the dialog's thread; the check boxes, radios and derived values that worker threads
// read are atomics, so a read from another thread is always whole.
struct COptions {
    // Numeric and text options (dialog's thread only).
    unsigned MaxProcesses = 0;
    unsigned DesiredCacheSize = 0;
    std::string ServerHost;
    unsigned ServerPort = 0;
    std::string SocksUser;
    std::string SocksPassword;

    // Check boxes and radio buttons.
    std::atomic<bool> HideProcessing{true};
    std::atomic<bool> AutoTransmit{false};
    std::atomic<bool> DisplayTransmit{false};
    std::atomic<EServerMode> ServerMode{SM_NONE};
    std::atomic<bool> UseColon{false};
    std::atomic<bool> MonitorProgress{false};
    std::atomic<bool> UseSpy{false};
    std::atomic<bool> Use24HourClock{false};
    std::atomic<bool> CreateLog{false};
    std::atomic<EClientPriority> ClientPriority{CP_LOW};
    std::atomic<bool> SetAffinity{false};
    std::atomic<bool> NotifyProblems{false}; // "Notify me of problems"
    unsigned NotifyAfterHours = kDefaultNotifyAfterHours; // transfers failing this long are a problem

    // Derived values.
    std::atomic<std::uint16_t> ClientShowMode{0}; // SW_HIDE while HideProcessing, else SW_MINIMIZE
    std::atomic<bool> LogEnabled{false};          // CreateLog's state, copied when it changes
    std::string ClientOptions;                    // server switches, rebuilt before each pass
    std::vector<std::string> ClientOptionArgs;    // the same switches as separate argv words
};

// Processor count, read once and kept.
unsigned ProcessorCount();

} // namespace vantrel
