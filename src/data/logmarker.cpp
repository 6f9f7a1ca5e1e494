#include "data/logmarker.h"

#include <algorithm>
#include <optional>
#include <string>

#include "core/cachestore.h"
#include "core/clientcontract.h"
#include "platform/fileops.h"

namespace vantrel {

namespace {
std::string InstanceFile(const CCacheStore& store, std::uint32_t n, const char* name) {
    return platform::JoinPath(store.GetInstancePath(n), name);
}
} // namespace

void SetLogMarker(const CCacheStore& store, std::uint32_t n, bool create) {
    if (create || platform::PathExists(InstanceFile(store, n, contract::kLogMarkerFile)))
        store.SetInstanceFile(n, contract::kLogMarkerFile, create);
}

bool HasLogMarker(const CCacheStore& store, std::uint32_t n) {
    return platform::PathExists(InstanceFile(store, n, contract::kLogMarkerFile));
}

std::chrono::seconds HoldForLogRow(const CCacheStore& store, std::uint32_t n, std::int64_t now) {
    const std::optional<std::int64_t> finished = platform::LastWriteTime(InstanceFile(store, n, contract::kResultFile));
    std::optional<std::int64_t> since = platform::LastWriteTime(InstanceFile(store, n, contract::kLogHoldFile));
    if (!since || *since > now || (finished && *since < *finished)) {
        since.reset();
        if (store.SetInstanceFile(n, contract::kLogHoldFile, true))
            since = now;
        else if (finished)
            since = std::min(*finished, now);
        else
            since = now;
    }
    return std::chrono::seconds(now - *since);
}

void EndLogHold(const CCacheStore& store, std::uint32_t n) {
    if (platform::PathExists(InstanceFile(store, n, contract::kLogHoldFile)))
        store.SetInstanceFile(n, contract::kLogHoldFile, false);
}

} // namespace vantrel
