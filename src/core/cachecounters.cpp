#include <algorithm>

#include "core/cachestore.h"
#include "platform/fileops.h"

namespace vantrel {

CacheCounters CountCacheState(const CCacheStore& store, const CRunningSlots& slots) {
    CacheCounters counters;
    unsigned stopAfterSend = 0;
    unsigned workUnits = 0;
    unsigned empty = 0;
    {
        // One walk for the count, the markers and the states, under the store's lock as each of
        // them would take it: the same answers as three walks, at start-up and at every restart.
        auto hold = store.LockInstances();
        for (std::uint32_t n = 1;; ++n) {
            const std::string path = store.GetInstancePath(n);
            if (!platform::IsDirectory(path))
                break;
            ++counters.CurrentCacheSize;
            if (store.HasStopAfterSend(n))
                ++stopAfterSend;
            InstanceState state = store.ClassifyContents(path);
            if (state == IS_WORK_UNIT) {
                ++workUnits;
                continue;
            }
            // A pass skips an instance whose lock a client holds (one that wrote its result and
            // hangs): counted, it would start pass after pass that each skip it.
            if (store.IsInstanceLocked(n))
                continue;
            if (state == IS_RESULT || state == IS_PARTIAL)
                ++counters.ReadyToTransmit;
            else if (state == IS_EMPTY)
                ++empty;
        }
    }
    counters.DesiredCacheSize = counters.CurrentCacheSize - std::min(stopAfterSend, counters.CurrentCacheSize);
    counters.ProcessingCount = slots.CountBusy();
    // A client that has just finished still holds its slot while its instance already shows the
    // result: never let the waiting count wrap below zero.
    counters.WaitingToProcess = workUnits - std::min(workUnits, counters.ProcessingCount);
    unsigned fill = counters.ReadyToTransmit + empty;
    counters.NeedToFill = stopAfterSend > 0 ? fill - std::min(fill, stopAfterSend) : fill;
    return counters;
}

} // namespace vantrel
