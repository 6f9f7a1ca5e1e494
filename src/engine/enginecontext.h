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
    // Runners' words that their clients run, posted and not yet answered (below).
    std::atomic<unsigned> StartNotices{0};

    // A runner's word that its client now runs (WM_APP): it changes nothing a count would see, so
    // the restart it brings may show the last count. Every other WM_APP has the cache counted.
    void PostClientStarted() {
        StartNotices.fetch_add(1);
        dialog.Post(WM_APP);
    }
    // For the dialog's WM_APP: whether one such word is still unanswered, which it now answers.
    // Taken by whichever WM_APP comes first, the count then falls to the next one, so every
    // change that posted is counted once its message has been handled.
    bool TakeClientStarted() {
        unsigned waiting = StartNotices.load();
        while (waiting != 0 && !StartNotices.compare_exchange_weak(waiting, waiting - 1)) {
        }
        return waiting != 0;
    }

    void Report(EEngineEvent event, std::uint32_t instance = 0) const {
        if (events != nullptr)
            events->OnEngineEvent(event, instance);
    }
};

} // namespace vantrel
