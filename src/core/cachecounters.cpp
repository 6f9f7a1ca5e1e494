#include <algorithm>

#include "core/cachestore.h"

namespace vantrel {

void CacheTally::Add(const CCacheStore& store, std::uint32_t n, const std::string& path, bool marked,
                     std::optional<InstanceState> known) {
    ++Instances;
    if (marked)
        ++StopAfterSend;
    const InstanceState state = known ? *known : store.ClassifyContents(path);
    if (state == IS_WORK_UNIT) {
        ++WorkUnits;
        return;
    }
    // A pass skips an instance whose lock a client holds (one that wrote its result and hangs):
    // counted, it would start pass after pass that each skip it.
    if (store.IsInstanceLocked(n))
        return;
    if (state == IS_RESULT || state == IS_PARTIAL)
        ++ReadyToTransmit;
    else if (state == IS_EMPTY)
        ++Empty;
}

CacheTally TallyCache(const CCacheStore& store) {
    CacheTally tally;
    // One walk for the count, the markers and the states, under the store's lock as each of them
    // would take it: the same answers as three walks.
    auto hold = store.LockInstances();
    const unsigned instances = store.CountInstances();
    for (std::uint32_t n = 1; n <= instances; ++n) {
        const std::string path = store.GetInstancePath(n);
        tally.Add(store, n, path, store.HasStopAfterSend(n));
    }
    return tally;
}

CacheTally TallyCacheSize(const CCacheStore& store) {
    CacheTally tally;
    auto hold = store.LockInstances();
    tally.Instances = store.CountInstances();
    tally.StopAfterSend = store.CountStopAfterSend();
    return tally;
}

CacheCounters CountersOf(const CacheTally& tally, const CRunningSlots& slots) {
    CacheCounters counters;
    counters.CurrentCacheSize = tally.Instances;
    counters.DesiredCacheSize = tally.Instances - std::min(tally.StopAfterSend, tally.Instances);
    counters.ReadyToTransmit = tally.ReadyToTransmit;
    counters.ProcessingCount = slots.CountBusy();
    // A client that has just finished still holds its slot while its instance already shows the
    // result: never let the waiting count wrap below zero.
    counters.WaitingToProcess = tally.WorkUnits - std::min(tally.WorkUnits, counters.ProcessingCount);
    const unsigned fill = tally.ReadyToTransmit + tally.Empty;
    counters.NeedToFill = tally.StopAfterSend > 0 ? fill - std::min(fill, tally.StopAfterSend) : fill;
    return counters;
}

CacheCounters CountCacheState(const CCacheStore& store, const CRunningSlots& slots) {
    return CountersOf(TallyCache(store), slots);
}

} // namespace vantrel
