#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantrel::platform {

// Full path of this program's own executable (/proc/self/exe), or empty when it cannot be read.
std::string GetOwnExecutablePath();

// The number of processors this program may use, at least 1: the processors online, cut to its
// own processor set (sched_getaffinity) and to a cgroup CPU quota (v1 or v2) where one is set.
unsigned GetProcessorCount();

// The processors a cgroup CPU quota allows (quota over period, rounded up), the smallest along the
// cgroup's ancestors; procCgroup is /proc/self/cgroup's text, root where the cgroup file systems
// are mounted (/sys/fs/cgroup). None without a quota.
std::optional<unsigned> CgroupProcessorQuota(std::string_view procCgroup, const std::string& root);

} // namespace vantrel::platform
