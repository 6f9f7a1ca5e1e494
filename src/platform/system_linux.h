#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantrel::platform {

// The processors a cgroup CPU quota allows (quota over period, rounded up), the smallest along the
// cgroup's ancestors; procCgroup is /proc/self/cgroup's text, root where the cgroup file systems
// are mounted (/sys/fs/cgroup). None without a quota.
std::optional<unsigned> CgroupProcessorQuota(std::string_view procCgroup, const std::string& root);

} // namespace vantrel::platform
