#include "engine/clientcontrol.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace vantrel {

std::string FormatClientTitle(std::uint32_t n) {
    // The processing title "ORVA %u"; a transmit title only begins with it.
    return "ORVA " + std::to_string(n);
}

std::vector<platform::ProcessHandle> OpenInstanceClient(const CEngineContext& ctx, std::uint32_t n) {
    return platform::FindProcessesByTitle(FormatClientTitle(n), ctx.store.GetInstancePath(n));
}

bool KillInstanceClients(CEngineContext& ctx, std::uint32_t n) {
    std::vector<platform::ProcessHandle> clients = OpenInstanceClient(ctx, n);
    if (clients.empty())
        return false;
    // A process stuck in the kernel takes SIGKILL but does not go: after a while it is left
    // behind, said so, so that exit and the runners go on.
    const auto deadline = std::chrono::steady_clock::now() + ctx.timings.killWait;
    while (!clients.empty()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            for (const platform::ProcessHandle& client : clients)
                ReportUnkillable(n, client.Pid());
            break;
        }
        bool anySignalled = false;
        for (platform::ProcessHandle& client : clients) {
            anySignalled = client.Terminate() || anySignalled;
            // Gives the process time to go, so the next look does not find it again.
            std::this_thread::sleep_for(ctx.timings.killPause);
        }
        // A process we may not signal would be found again for ever.
        if (!anySignalled)
            break;
        clients = OpenInstanceClient(ctx, n);
    }
    ctx.RunningSlots.FreeAllOf(n);
    return true;
}

void ReportUnkillable(std::uint32_t n, long pid) {
    std::fprintf(stderr, "vantrel: the client of instance %u (process %ld) did not end when killed; left behind\n", n,
                 pid);
}

void SetClientPriority(const CEngineContext& ctx, std::uint32_t n, std::uint32_t priorityClass) {
    for (const platform::ProcessHandle& client : OpenInstanceClient(ctx, n))
        platform::SetPriorityClass(client, priorityClass);
}

void ShowInstanceClients(const CEngineContext& ctx, std::uint16_t showCommand) {
    for (std::size_t k = 0; k < ctx.RunningSlots.Size(); ++k) {
        std::uint32_t n = ctx.RunningSlots.Get(k);
        if (n == 0)
            continue;
        for (const platform::ProcessHandle& client : OpenInstanceClient(ctx, n))
            platform::ShowProcessWindow(client, showCommand);
    }
}

} // namespace vantrel
