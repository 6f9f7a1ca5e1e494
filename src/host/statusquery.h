#pragma once

// `vantrel --status [--json | --prometheus] [--program-dir DIR]`: asks the copy running in the
// program directory for its status and prints it; with none running, prints what the disk shows.
#include "control/statuscommand.h"

namespace vantrel {

// The whole command line; the exit code: 0 a copy answered, 1 a copy runs but did not answer or
// the program directory cannot be found, 2 a mistyped command line, 3 no copy runs there.
int StatusFromCommandLine(int argc, char** argv);

} // namespace vantrel
