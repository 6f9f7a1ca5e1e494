#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "programdir.h"

// What the headless program's test looks at differently on each system.
namespace vantrel::soak {

// How many results the fault-free run waits for: every instance filled, processed and sent again
// several times. Under Wine each client start costs the processors about a second, so a smaller
// number there says the same in a third of the time.
std::size_t LedgerWorkUnits();

// What of a graphical program the running headless program shows, one line each: the toolkit's
// graphical libraries it has loaded (Linux), its visible windows (Windows). Empty when none.
std::vector<std::string> GraphicalParts(const e2e::CChild& program);

// The JSON status as a JSON reader reads it: "running cache-size desired-size dir", the first as
// Python writes a boolean ("True", "False").
std::string ReadJsonSummary(const std::string& json);

// A way to ask a running headless program to end, as its system offers one from outside.
struct EndRequest {
    std::string name;
    std::function<bool(const CProgramDir&, e2e::CChild&)> send; // false when it could not be sent
};
std::vector<EndRequest> EndRequests();

} // namespace vantrel::soak
