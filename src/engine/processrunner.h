#pragma once

#include <atomic>
#include <chrono>
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

// What a runner took, told to the restart that started it. A restart that does not wait for it
// (the dialog's thread is never held for a client's start) looks at the next call of the dialog.
class CRunnerClaim {
public:
    enum EState : int { Deciding, Started, Nothing };

    // Detached: the restart does not wait for the runner. Set before the runner starts.
    explicit CRunnerClaim(bool detached = false) : m_bDetached(detached) {}
    bool IsDetached() const { return m_bDetached; }

    // Started: the runner claimed a slot and tried its client, at ClientStart(). Nothing: it
    // ended without a slot. Deciding: not yet.
    EState State() const { return static_cast<EState>(m_state.load()); }
    std::chrono::steady_clock::time_point ClientStart() const;

    // Runner side.
    void Decide(EState outcome) { m_state.store(outcome); }
    void SetClientStart(std::chrono::steady_clock::time_point when);

private:
    const bool m_bDetached;
    std::atomic<int> m_state{Deciding};
    std::atomic<std::chrono::steady_clock::rep> m_clientStart{0};
};

// One runner: takes the oldest waiting work unit, claims the lowest free slot, runs the client in
// the instance until it ends (terminating it when it has not written its state within the hang
// check), frees the slot and posts WM_APP. SlotClaimedEvent is set on every path once the runner
// has claimed a slot and started its client, or has decided to end without one. When stopEvent
// is set the runner ends its own client and posts nothing. claim (when given) hears the outcome
// before SlotClaimedEvent is set; a detached one also has the runner post WM_APP once its client
// runs, so a restart gives the client its priority and processors. Returns 0.
int ProcessRunnerThread(CEngineContext& ctx, platform::CEvent& SlotClaimedEvent, const platform::CEvent& stopEvent,
                        CRunnerClaim* claim = nullptr);

} // namespace vantrel
