#include "platform/system.h"

#include "platform/fileops.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <vector>

namespace vantrel::platform {

namespace {

std::optional<long long> ParseNumber(std::string_view text) {
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

std::string_view FirstLine(std::string_view text) {
    return text.substr(0, text.find('\n'));
}

// Quota over period, rounded up: a quota of 1.5 processors lets two run part of the time.
std::optional<unsigned> Processors(long long quota, long long period) {
    if (quota <= 0 || period <= 0)
        return std::nullopt;
    return static_cast<unsigned>(std::min<long long>((quota + period - 1) / period, UINT_MAX));
}

// cgroup v2: "max 100000" or "150000 100000" in cpu.max.
std::optional<unsigned> QuotaV2(const std::string& dir) {
    auto text = ReadFileText(JoinPath(dir, "cpu.max"), 256);
    if (!text)
        return std::nullopt;
    std::string_view line = FirstLine(*text);
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    auto quota = ParseNumber(line.substr(0, space));
    auto period = ParseNumber(line.substr(space + 1));
    return quota && period ? Processors(*quota, *period) : std::nullopt;
}

// cgroup v1: cpu.cfs_quota_us (-1: none) over cpu.cfs_period_us.
std::optional<unsigned> QuotaV1(const std::string& dir) {
    auto quota = ReadFileText(JoinPath(dir, "cpu.cfs_quota_us"), 64);
    auto period = ReadFileText(JoinPath(dir, "cpu.cfs_period_us"), 64);
    if (!quota || !period)
        return std::nullopt;
    auto q = ParseNumber(FirstLine(*quota));
    auto p = ParseNumber(FirstLine(*period));
    return q && p ? Processors(*q, *p) : std::nullopt;
}

// The smallest quota of a cgroup and its ancestors up to the mount point: a parent's quota
// bounds its children.
template <typename Read>
std::optional<unsigned> SmallestQuotaUpward(const std::string& mount, std::string_view path, Read read) {
    std::optional<unsigned> smallest;
    for (;;) {
        while (!path.empty() && path.back() == '/')
            path.remove_suffix(1);
        if (auto quota = read(mount + std::string(path)); quota && (!smallest || *quota < *smallest))
            smallest = quota;
        if (path.empty())
            return smallest;
        std::size_t slash = path.rfind('/');
        path = path.substr(0, slash == std::string_view::npos ? 0 : slash);
    }
}

} // namespace

std::optional<unsigned> CgroupProcessorQuota(std::string_view procCgroup, const std::string& root) {
    std::optional<unsigned> smallest;
    auto take = [&smallest](std::optional<unsigned> quota) {
        if (quota && (!smallest || *quota < *smallest))
            smallest = quota;
    };
    while (!procCgroup.empty()) {
        std::string_view line = FirstLine(procCgroup);
        procCgroup.remove_prefix(std::min(procCgroup.size(), line.size() + 1));
        // "hierarchy-id:controllers:path"
        std::size_t first = line.find(':');
        std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos)
            continue;
        std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string_view path = line.substr(second + 1);
        if (line.substr(0, first) == "0" && controllers.empty()) {
            // v2: the unified hierarchy at the root, or beside v1 ones under "unified".
            for (const std::string& mount : {root, JoinPath(root, "unified")})
                if (IsRegularFile(JoinPath(mount, "cgroup.controllers")))
                    take(SmallestQuotaUpward(mount, path, QuotaV2));
            continue;
        }
        std::string_view rest = controllers;
        bool hasCpu = false;
        while (!rest.empty()) {
            std::string_view name = rest.substr(0, rest.find(','));
            hasCpu = hasCpu || name == "cpu";
            rest.remove_prefix(std::min(rest.size(), name.size() + 1));
        }
        if (hasCpu)
            take(SmallestQuotaUpward(JoinPath(root, std::string(controllers)), path, QuotaV1));
    }
    return smallest;
}

} // namespace vantrel::platform
