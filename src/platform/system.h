#pragma once

#include <string>

namespace vantrel::platform {

// Full path of this program's own executable (/proc/self/exe), or empty when it cannot be read.
std::string GetOwnExecutablePath();

// Number of processors online, at least 1.
unsigned GetProcessorCount();

} // namespace vantrel::platform
