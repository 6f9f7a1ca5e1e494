#pragma once

#include <atomic>
#include <cstdint>

#include "core/cachestore.h"
#include "core/options.h"
#include "core/runningslots.h"
#include "core/timings.h"
#include "engine/engineevents.h"
#include "engine/messagetarget.h"

namespace vantrel {

// What every engine thread shares: the store, the slot table, the options, the durations, and
// the dialog to report to. Owned by the application (or a test) and outliving every engine
// object and thread.
struct CEngineContext {
    CCacheStore& store;
    CRunningSlots& RunningSlots;
    COptions& options;
    Timings timings;
    IMessageTarget& dialog;
    // The busy instance with the oldest work unit: its progress is shown and its client gets the
    // chosen priority. 0 = none.
    std::atomic<std::uint32_t> WatchedInstance{0};
    // Who hears of the engine's events; none by default. Set before any engine thread starts.
    IEngineEvents* events = nullptr;

    void Report(EEngineEvent event, std::uint32_t instance = 0) const {
        if (events != nullptr)
            events->OnEngineEvent(event, instance);
    }
};

} // namespace vantrel
