#include "engine/processrunner.h"

#include "core/clientcontract.h"
#include "data/logmarker.h"
#include "engine/clientcontrol.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/wait.h"

namespace vantrel {

namespace {

std::string StateFilePath(const CEngineContext& ctx, std::uint32_t n) {
    return platform::JoinPath(ctx.store.GetInstancePath(n), contract::kStateFile);
}

platform::ProcessStartInfo ProcessingRun(const CEngineContext& ctx, std::uint32_t n, std::uint16_t showCommand) {
    platform::ProcessStartInfo info;
    // No server switches: those belong to transmit runs.
    info.argv = {ctx.store.GetClientForInstance(n), contract::kStopAfterProcess};
    info.workingDirectory = ctx.store.GetInstancePath(n);
    info.consoleTitle = FormatClientTitle(n);
    info.showCommand = showCommand;
    return info;
}

// How a supervised client run ended.
enum class ERunEnd {
    EndedByItself, // before the hang check or after being judged alive
    Hung,          // terminated at the hang check
    Stopped,       // ended because the engine is shutting down
    NotStarted     // the client could not be started
};

// Ends the client and reaps it. SIGKILL cannot be ignored, but a process stuck in the kernel does
// not go: the wait is bounded so that exit never hangs on it.
void EndClient(const CEngineContext& ctx, std::uint32_t n, platform::ProcessHandle& client) {
    client.Terminate();
    if (!client.WaitForExit(ctx.timings.killWait))
        ReportUnkillable(n, client.Pid());
}

// Waits for the client to end, judging it once for a hang after the hang check. A set stop event
// ends the wait and the client with it, so no client outlives its runner.
ERunEnd SuperviseClient(const CEngineContext& ctx, std::uint32_t n, platform::ProcessHandle& client,
                        const StateSnapshot& before, const platform::CEvent& stopEvent) {
    if (!client.IsValid()) {
        // A client that cannot start is tried again after the hang check, not in a tight loop.
        platform::WaitForAny({stopEvent.Handle()}, ctx.timings.hangCheck);
        return ERunEnd::NotStarted;
    }
    int woke = platform::WaitForAny({client.ExitHandle(), stopEvent.Handle()}, ctx.timings.hangCheck);
    if (woke == platform::kWaitTimeout) {
        if (!IsClientWritingState(ctx, n, before)) {
            EndClient(ctx, n, client);
            return ERunEnd::Hung;
        }
        // Judged once: from here the client may take as long as it needs.
        woke = platform::WaitForAny({client.ExitHandle(), stopEvent.Handle()});
    }
    if (woke == 0) {
        client.WaitForExit();
        return ERunEnd::EndedByItself;
    }
    EndClient(ctx, n, client); // told to stop, or the wait itself failed
    return ERunEnd::Stopped;
}

// A client that ended by itself leaving its work unit as it was, without a write of its state
// (a missing library, a refused input, a terminal that cannot open), would be started again at
// once, for ever.
bool EndedWithoutWork(const CEngineContext& ctx, std::uint32_t n, const StateSnapshot& before) {
    return ctx.store.GetInstanceState(n) == IS_WORK_UNIT && TakeStateSnapshot(ctx, n).lastWrite == before.lastWrite;
}

// What the user hears of a run that is over: a client that could not start, or that ended by
// itself without any work, will do the same next time. A hung client is not one of them, nor one
// that was stopped or whose slot was taken away.
void ReportClientEnd(const CEngineContext& ctx, std::uint32_t n, ERunEnd end, bool ownSlot, bool withoutWork) {
    if (end == ERunEnd::NotStarted)
        ctx.Report(EV_CLIENT_ENDED_AT_ONCE, n);
    else if (end == ERunEnd::EndedByItself && ownSlot)
        ctx.Report(withoutWork ? EV_CLIENT_ENDED_AT_ONCE : EV_CLIENT_RAN, n);
}

} // namespace

std::chrono::steady_clock::time_point CRunnerClaim::ClientStart() const {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_clientStart.load()));
}

void CRunnerClaim::SetClientStart(std::chrono::steady_clock::time_point when) {
    m_clientStart.store(when.time_since_epoch().count());
}

StateSnapshot TakeStateSnapshot(const CEngineContext& ctx, std::uint32_t n) {
    return StateSnapshot{platform::LastWriteTime(StateFilePath(ctx, n))};
}

bool IsClientWritingState(const CEngineContext& ctx, std::uint32_t n, const StateSnapshot& before) {
    std::optional<std::int64_t> now = platform::LastWriteTime(StateFilePath(ctx, n));
    if (!now)
        return false;
    return !before.lastWrite || *now > *before.lastWrite;
}

int ProcessRunnerThread(CEngineContext& ctx, platform::CEvent& SlotClaimedEvent, const platform::CEvent& stopEvent,
                        CRunnerClaim* claim) {
    std::uint16_t showCommand = ctx.options.ClientShowMode.load();
    std::uint32_t n = 0;
    std::optional<SlotClaim> slot;
    {
        // Chosen and claimed as one step, so no compaction moves the instance in between.
        auto hold = ctx.store.LockInstances();
        n = ctx.store.FindNextToProcess();
        if (n != 0)
            slot = ctx.RunningSlots.ClaimLowestFree(n);
    }
    if (n == 0 || !slot || stopEvent.IsSet()) {
        // Against the handshake there may be no free slot: end without a client.
        if (slot)
            ctx.RunningSlots.Free(*slot);
        if (claim != nullptr)
            claim->Decide(CRunnerClaim::Nothing);
        SlotClaimedEvent.Set();
        return 0;
    }

    // Without the user's account data the client asks for it, so its console must be seen.
    if (!ctx.store.SupplyUserInfo(n))
        showCommand = platform::SW_SHOWNORMAL;
    // The result this run makes has not been logged. A marker still here was left by a pass that
    // ended before clearing it (its client sent the last result and fetched this work unit on its
    // own), and it would keep the new result out of the log.
    SetLogMarker(ctx.store, n, false);
    StateSnapshot before = TakeStateSnapshot(ctx, n);
    // A client in a terminal takes as long as the terminal needs to start it: this thread waits
    // for it, never the dialog's.
    platform::ProcessHandle client = platform::StartProcess(ProcessingRun(ctx, n, showCommand));
    if (claim != nullptr) {
        claim->SetClientStart(std::chrono::steady_clock::now());
        claim->Decide(CRunnerClaim::Started);
        // The restart this brings puts the new client at its priority and on its processors. A
        // client's start changes nothing the counters show: the restart need not count again.
        if (claim->IsDetached() && client.IsValid() && !stopEvent.IsSet())
            ctx.PostClientStarted();
    }
    // A restart that waits goes on only once the client runs, so its priority and processor
    // steps find it.
    SlotClaimedEvent.Set();

    ERunEnd end = SuperviseClient(ctx, n, client, before, stopEvent);
    // The instance rests for a hang check, passed over by the restarts meanwhile, so the other
    // instances get their turn and the dialog's thread is not kept busy restarting it.
    // A client we killed ourselves (its slot cut away, also when a newcomer has already claimed
    // it again for the same instance, or freed by a kill by title) did not end by itself.
    const bool ownSlot = ctx.RunningSlots.Holds(*slot);
    const bool rest = end == ERunEnd::EndedByItself && ownSlot && EndedWithoutWork(ctx, n, before);
    if (!stopEvent.IsSet())
        ReportClientEnd(ctx, n, end, ownSlot, rest);
    if (rest)
        ctx.RunningSlots.HoldInstance(n);

    // Only the slot this runner claimed is freed, and no client but its own is ended: when its
    // slot was cut away, another runner may already run a new client in the same instance.
    ctx.RunningSlots.Free(*slot);
    if (stopEvent.IsSet()) {
        if (rest)
            ctx.RunningSlots.ReleaseInstance(n);
        return 0;
    }
    ctx.dialog.Post(WM_APP);
    if (rest) {
        bool stopped = platform::WaitForAny({stopEvent.Handle()}, ctx.timings.hangCheck) == 0;
        ctx.RunningSlots.ReleaseInstance(n);
        if (!stopped)
            ctx.dialog.Post(WM_APP);
    }
    return 0;
}

} // namespace vantrel
