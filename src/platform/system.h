#pragma once

#include <string>

namespace vantrel::platform {

// Full path of this program's own executable (/proc/self/exe), or empty when it cannot be read.
std::string GetOwnExecutablePath();

// The number of processors this program may use, at least 1: the processors online, cut to its
// own processor set (sched_getaffinity) and to a cgroup CPU quota (v1 or v2) where one is set.
unsigned GetProcessorCount();

// The user this program runs as, as the system numbers users (the decimal uid on Linux).
std::string CurrentUserId();

} // namespace vantrel::platform
