#pragma once

#include <chrono>
#include <cstdint>

namespace vantrel {

class CCacheStore;

// "ORVALogUpdated.txt" in an instance directory: the instance's result has been dealt with by the
// CSV log (logged, or met while logging was off) and must not be logged again.

// create: makes the empty marker (truncating one that exists); otherwise removes it when present.
// Either way the pending note below goes too (after a marker made, only once it is there).
// Failures are ignored: a missing marker only means the result is met again by the next pass.
void SetLogMarker(const CCacheStore& store, std::uint32_t n, bool create);

bool HasLogMarker(const CCacheStore& store, std::uint32_t n);

// "ORVALogPending.txt" in an instance directory, empty: the row of its result is being appended
// to the log, from just before the append until the marker stands in its place. A run that ended
// in between left it, and the row may be in the log already.
void SetLogPending(const CCacheStore& store, std::uint32_t n, bool present);

bool HasLogPending(const CCacheStore& store, std::uint32_t n);

// "ORVALogHeld.txt" in an instance directory: the row of its result could not be written, and the
// result has been held back since the file's last-write time. On disk, so a restart does not
// start the wait afresh.

// How long the result of instance n has been held back for its row as of now (seconds since the
// epoch), starting the hold when none runs for it. A hold file older than result.orv is an earlier
// result's and one dated after now a clock set back: both start afresh. Where no hold file can be
// made, the result is counted as held since it was finished, so that it is never held for ever.
std::chrono::seconds HoldForLogRow(const CCacheStore& store, std::uint32_t n, std::int64_t now);

// The result's row was written, or the result has gone: no hold runs any more.
void EndLogHold(const CCacheStore& store, std::uint32_t n);

} // namespace vantrel
