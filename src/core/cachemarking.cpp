#include "core/cachestore.h"
#include "core/clientcontract.h"
#include "platform/fileops.h"

namespace vantrel {

CacheTally MarkToDesiredSize(const CCacheStore& store, std::uint64_t desired,
                             const std::map<std::uint32_t, InstanceState>& states,
                             const std::function<void(std::uint32_t)>& onInstance) {
    CacheTally tally;
    auto count = [&](std::uint32_t n, const std::string& path, bool marked) {
        const auto known = states.find(n);
        tally.Add(store, n, path, marked, known != states.end() ? std::optional(known->second) : std::nullopt);
        onInstance(n);
    };
    // Counted under the store's lock, as a count of its own would be.
    auto hold = store.LockInstances();
    // 64-bit counters: a desired size at the top of the unsigned range must not wrap the loops.
    bool whole = true; // every directory up to here is there: the run goes on
    for (std::uint64_t i = 1; i <= desired; ++i) {
        const auto n = static_cast<std::uint32_t>(i);
        const std::string path = store.GetInstancePath(n);
        // Missing is only a question of the directory: what it holds need not be looked at. The
        // compaction that gave the states has just seen every directory it names.
        if (!states.contains(n) && !platform::IsDirectory(path)) {
            store.CreateInstance(n);
            if (!platform::IsDirectory(path)) {
                whole = false;
                continue;
            }
        }
        bool marked = store.HasStopAfterSend(n);
        if (marked) {
            store.SetStopAfterSend(n, false);
            marked = store.HasStopAfterSend(n);
        }
        if (whole)
            count(n, path, marked);
    }
    // Past the desired size every instance is marked. Those below were just looked at, so the walk
    // goes on from there; a directory that could not be made ends the cache below it.
    for (std::uint64_t i = desired + 1; whole; ++i) {
        const auto n = static_cast<std::uint32_t>(i);
        const std::string path = store.GetInstancePath(n);
        if (!states.contains(n) && !platform::IsDirectory(path))
            break;
        const bool marked = store.SetInstanceFile(n, contract::kStopAfterSendFile, true) || store.HasStopAfterSend(n);
        count(n, path, marked);
    }
    return tally;
}

void NewestUserInfo::Look(const CCacheStore& store, std::uint32_t n) {
    if (std::int32_t results = store.ReadResultCount(n); results > best) {
        best = results;
        instance = n;
    }
}

} // namespace vantrel
