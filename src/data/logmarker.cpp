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
    bool changed = true;
    if (create || platform::PathExists(InstanceFile(store, n, contract::kLogMarkerFile)))
        changed = store.SetInstanceFile(n, contract::kLogMarkerFile, create);
    // Without the marker the note is all that keeps a row written from being written again.
    if (changed || !create)
        SetLogPending(store, n, false);
}

bool HasLogMarker(const CCacheStore& store, std::uint32_t n) {
    return platform::PathExists(InstanceFile(store, n, contract::kLogMarkerFile));
}

void SetLogPending(const CCacheStore& store, std::uint32_t n, bool present) {
    if (present || HasLogPending(store, n))
        store.SetInstanceFile(n, contract::kLogPendingFile, present);
}

bool HasLogPending(const CCacheStore& store, std::uint32_t n) {
    return platform::PathExists(InstanceFile(store, n, contract::kLogPendingFile));
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
