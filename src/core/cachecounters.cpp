#include <algorithm>

#include "core/cachestore.h"

namespace vantrel {

CacheCounters CountCacheState(const CCacheStore& store, const CRunningSlots& slots) {
    CacheCounters counters;
    counters.CurrentCacheSize = store.CountInstances();
    unsigned stopAfterSend = store.CountStopAfterSend();
    counters.DesiredCacheSize = counters.CurrentCacheSize - std::min(stopAfterSend, counters.CurrentCacheSize);

    unsigned workUnits = 0;
    unsigned empty = 0;
    for (std::uint32_t n = 1; n <= counters.CurrentCacheSize; ++n) {
        InstanceState state = store.GetInstanceState(n);
        if (state == IS_WORK_UNIT) {
            ++workUnits;
            continue;
        }
        // A pass skips an instance whose lock a client holds (one that wrote its result and
        // hangs): counted, it would start pass after pass that each skip it.
        if (state != IS_MISSING && store.IsInstanceLocked(n))
            continue;
        switch (state) {
        case IS_WORK_UNIT:
            break;
        case IS_RESULT:
        case IS_PARTIAL:
            ++counters.ReadyToTransmit;
            break;
        case IS_EMPTY:
            ++empty;
            break;
        case IS_MISSING:
            break;
        }
    }
    counters.ProcessingCount = slots.CountBusy();
    // A client that has just finished still holds its slot while its instance already shows the
    // result: never let the waiting count wrap below zero.
    counters.WaitingToProcess = workUnits - std::min(workUnits, counters.ProcessingCount);
    unsigned fill = counters.ReadyToTransmit + empty;
    counters.NeedToFill = stopAfterSend > 0 ? fill - std::min(fill, stopAfterSend) : fill;
    return counters;
}

} // namespace vantrel
