#pragma once

#include <cstdint>

namespace vantrel {

class CCacheStore;

// "ORVALogUpdated.txt" in an instance directory: the instance's result has been dealt with by the
// CSV log (logged, or met while logging was off) and must not be logged again.

// create: makes the empty marker (truncating one that exists); otherwise removes it when present.
// Failures are ignored: a missing marker only means the result is met again by the next pass.
void SetLogMarker(const CCacheStore& store, std::uint32_t n, bool create);

bool HasLogMarker(const CCacheStore& store, std::uint32_t n);

} // namespace vantrel
