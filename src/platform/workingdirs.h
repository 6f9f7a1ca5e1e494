#pragma once

#include <string>
#include <vector>

namespace vantrel::platform {

// The names of the entries of dir in which some live process works: its current directory is
// that entry or lies beneath it. Read from /proc, so it sees the processes whose directories we
// may read (all of our own user's, whatever their environment), not zombies. Sorted, no repeats;
// empty when dir cannot be resolved.
std::vector<std::string> EntriesInUseAsWorkingDirectory(const std::string& dir);

} // namespace vantrel::platform
