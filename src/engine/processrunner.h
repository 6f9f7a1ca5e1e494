#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "engine/enginecontext.h"
#include "platform/event.h"

namespace vantrel {

// What a runner knows of the instance's "state.orv" from before its client started: the
// last-write time in whole seconds, none when the file did not exist.
struct StateSnapshot {
    std::optional<std::int64_t> lastWrite;
};

StateSnapshot TakeStateSnapshot(const CEngineContext& ctx, std::uint32_t n);

// The one hang check: a client is alive when "state.orv" was written after the snapshot (strictly
// later, in whole seconds) or, when there was none, has appeared since.
bool IsClientWritingState(const CEngineContext& ctx, std::uint32_t n, const StateSnapshot& before);

// One runner: takes the oldest waiting work unit, claims the lowest free slot, runs the client in
// the instance until it ends (terminating it when it has not written its state within the hang
// check), frees the slot and posts WM_APP. SlotClaimedEvent is set on every path once the runner
// has claimed a slot and started its client, or has decided to end without one. When stopEvent
// is set the runner ends its own client and posts nothing. claimed (when given) is set before
// SlotClaimedEvent when the runner took a slot, so the restart knows a client is starting. Returns 0.
int ProcessRunnerThread(CEngineContext& ctx, platform::CEvent& SlotClaimedEvent, const platform::CEvent& stopEvent,
                        std::atomic<bool>* claimed = nullptr);

} // namespace vantrel
