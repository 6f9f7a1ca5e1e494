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

std::vector<std::vector<platform::ProcessHandle>> OpenSlotClients(const CEngineContext& ctx) {
    std::vector<std::pair<std::string, std::string>> wanted;
    for (std::size_t k = 0; k < ctx.RunningSlots.Size(); ++k) {
        // A free slot asks for nothing: an empty directory is never searched.
        std::uint32_t n = ctx.RunningSlots.Get(k);
        wanted.emplace_back(FormatClientTitle(n), n == 0 ? std::string() : ctx.store.GetInstancePath(n));
    }
    return platform::FindProcessesByTitles(wanted);
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

bool SetClientPriority(const CEngineContext& ctx, std::uint32_t n, std::uint32_t priorityClass) {
    bool refused = false;
    for (const platform::ProcessHandle& client : OpenInstanceClient(ctx, n))
        platform::SetPriorityClass(client, priorityClass, &refused);
    return refused;
}

void ShowInstanceClients(const CEngineContext& ctx, std::uint16_t showCommand) {
    for (const auto& clients : OpenSlotClients(ctx))
        for (const platform::ProcessHandle& client : clients)
            platform::ShowProcessWindow(client, showCommand);
}

} // namespace vantrel
