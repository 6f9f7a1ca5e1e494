#pragma once

#include <functional>
#include <string>
#include <vector>

// `vantrel --status [--json | --prometheus] [--program-dir DIR]`: asks the copy running in the
// program directory for its status and prints it; with none running, prints what the disk shows.
// The same for every front end; only the way to ask differs.
namespace vantrel {

// Exit codes beyond the usual ones.
inline constexpr int kStatusNoneRunning = 3;

// The encoded status reports that the copies answering for programDir sent; empty when none did.
using StatusAsker = std::function<std::vector<std::string>(const std::string& programDir)>;

// The whole command line; the exit code: 0 a copy answered, 1 a copy runs but did not answer or
// the program directory cannot be found, 2 a mistyped command line, 3 no copy runs there.
int RunStatusCommand(int argc, char** argv, const StatusAsker& ask);

} // namespace vantrel
