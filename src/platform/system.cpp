#include "platform/system.h"

#include <climits>
#include <unistd.h>
#include <vector>

namespace vantrel::platform {

std::string GetOwnExecutablePath() {
    std::vector<char> buffer(PATH_MAX);
    // readlink truncates silently: grow until the answer fits.
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

unsigned GetProcessorCount() {
    long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count < 1 ? 1u : static_cast<unsigned>(count);
}

} // namespace vantrel::platform
