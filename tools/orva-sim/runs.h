#pragma once

#include "knobs.h"
#include "server.h"

#include <string>

// The two runs of the client. Each works in the current directory (the instance directory),
// holds "lock.orv" there for its whole run and returns the exit code.
namespace orvasim {

// Processes "work_unit.orv" into "result.orv".
int RunProcessing(const Knobs& knobs);
// Sends "result.orv" to the server, then fetches the next work unit unless the directory holds
// the stop-after-send marker.
int RunTransmit(const Knobs& knobs, const Server& server);

// Messages: progress on standard output, failures on standard error.
void Say(const std::string& text);
// Reports the failure and gives the exit code of a failed run.
int Fail(const std::string& text);

void SleepSeconds(double seconds);

} // namespace orvasim
