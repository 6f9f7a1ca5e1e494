#pragma once

#include "core/options.h"
#include "core/timings.h"
#include "engine/engineevents.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// When something needs the user, without a toolkit: which engine events make a notification,
// and how often one of a kind may be shown.
namespace vantrel {

enum class EProblem : int {
    TransfersFailing,  // no transfer has succeeded for the chosen time, and they keep failing
    ClientEndsAtOnce,  // processing clients keep ending without doing any work
    WriteFailed,       // the log or the configuration could not be written
    InstanceRestarted, // the loop detector started an instance afresh
    LogRowLost,        // a result went without its row after the log refused it too long
};
inline constexpr std::size_t kProblemKinds = 5;

// A client ending at once this many times in a row, with none working between, is a problem.
inline constexpr unsigned kQuickEndsToNotify = 3;

struct ProblemNotice {
    EProblem Kind;
    std::string Title;
    std::string Text;
};

// The line for standard error that an event needs whether or not notices are on; empty for none.
std::string StandardErrorLine(EEngineEvent event, std::uint32_t instance);

// Turns engine events into notices: each kind at most once per repeat period, and none while
// notifications are off. Belongs to the dialog's thread; the clock is injected so a test can move
// time on.
class CProblemNotifier {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // options: "Notify me of problems" and the hours that transfers must have failed, read at every
    // event. timings: the least time between two notices of one kind (noticeRepeat), and the scale
    // of the hours.
    CProblemNotifier(const COptions& options, const Timings& timings, Clock clock = {});

    // An event of the engine; the notice to show now, if any.
    std::optional<ProblemNotice> OnEvent(EEngineEvent event, std::uint32_t instance);

    // While transfers fail: the moment they will have failed for the chosen hours; the caller comes
    // back then with CheckTransfers. None while the last transfer succeeded.
    std::optional<std::chrono::steady_clock::time_point> TransfersDueAt() const;
    std::optional<ProblemNotice> CheckTransfers();

private:
    std::optional<ProblemNotice> Offer(EProblem kind, std::string text);

    const COptions& m_options;
    Timings m_timings;
    Clock m_clock;
    std::optional<std::chrono::steady_clock::time_point> m_failingSince;
    unsigned m_nQuickEnds = 0;
    std::array<std::optional<std::chrono::steady_clock::time_point>, kProblemKinds> m_lastShown;
};

} // namespace vantrel
