#include "platform/system.h"

#include <algorithm>
#include <climits>
#include <unistd.h>
#include <vector>

#include "platform/fileops.h"
#include "platform/process.h"

namespace vantrel::platform {

namespace {

// Where the kernel mounts the cgroup file systems.
constexpr const char* kCgroupRoot = "/sys/fs/cgroup";

} // namespace

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
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    unsigned count = online < 1 ? 1u : static_cast<unsigned>(online);
    // What this program may use: its own processor set, and a container's or service's quota.
    if (std::size_t allowed = GetOwnProcessors().size(); allowed > 0)
        count = static_cast<unsigned>(std::min<std::size_t>(count, allowed));
    if (auto cgroup = ReadFileText("/proc/self/cgroup", 1 << 16))
        if (auto quota = CgroupProcessorQuota(*cgroup, kCgroupRoot))
            count = std::min(count, *quota);
    return std::max(count, 1u);
}

} // namespace vantrel::platform
