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

// Ends the client and reaps it; SIGKILL cannot be ignored, so the wait is short.
void EndClient(platform::ProcessHandle& client) {
    client.Terminate();
    client.WaitForExit();
}

// Waits for the client to end, judging it once for a hang after the hang check. A set stop event
// ends the wait and the client with it, so no client outlives its runner.
void SuperviseClient(const CEngineContext& ctx, std::uint32_t n, platform::ProcessHandle& client,
                     const StateSnapshot& before, const platform::CEvent& stopEvent) {
    if (!client.IsValid()) {
        // A client that cannot start is tried again after the hang check, not in a tight loop.
        platform::WaitForAny({stopEvent.Fd()}, ctx.timings.hangCheck);
        return;
    }
    int woke = platform::WaitForAny({client.PidFd(), stopEvent.Fd()}, ctx.timings.hangCheck);
    if (woke == platform::kWaitTimeout) {
        if (!IsClientWritingState(ctx, n, before)) {
            EndClient(client);
            return;
        }
        // Judged once: from here the client may take as long as it needs.
        woke = platform::WaitForAny({client.PidFd(), stopEvent.Fd()});
    }
    if (woke == 0)
        client.WaitForExit();
    else
        EndClient(client); // told to stop, or the wait itself failed
}

} // namespace

StateSnapshot TakeStateSnapshot(const CEngineContext& ctx, std::uint32_t n) {
    return StateSnapshot{platform::LastWriteTime(StateFilePath(ctx, n))};
}

bool IsClientWritingState(const CEngineContext& ctx, std::uint32_t n, const StateSnapshot& before) {
    std::optional<std::int64_t> now = platform::LastWriteTime(StateFilePath(ctx, n));
    if (!now)
        return false;
    return !before.lastWrite || *now > *before.lastWrite;
}

int ProcessRunnerThread(CEngineContext& ctx, platform::CEvent& SlotClaimedEvent, const platform::CEvent& stopEvent) {
    std::uint16_t showCommand = ctx.options.ClientShowMode.load();
    std::uint32_t n = ctx.store.FindNextToProcess();
    if (n == 0) {
        SlotClaimedEvent.Set();
        return 0;
    }
    std::optional<std::size_t> slot = ctx.RunningSlots.ClaimLowestFree(n);
    if (!slot || stopEvent.IsSet()) {
        // Against the handshake there may be no free slot: end without a client.
        if (slot)
            ctx.RunningSlots.Free(*slot, n);
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
    platform::ProcessHandle client = platform::StartProcess(ProcessingRun(ctx, n, showCommand));
    // The restart goes on only once the client runs, so its priority and processor steps find it.
    SlotClaimedEvent.Set();

    SuperviseClient(ctx, n, client, before, stopEvent);

    // Leftovers with the instance's title go while the slot still holds n, so no new runner can
    // start a client there that this look would take for a leftover.
    KillInstanceClients(ctx, n);
    ctx.RunningSlots.Free(*slot, n);
    if (!stopEvent.IsSet())
        ctx.dialog.Post(WM_APP);
    return 0;
}

} // namespace vantrel
