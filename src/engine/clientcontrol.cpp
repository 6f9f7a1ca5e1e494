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
    return std::move(OpenInstancesClients(ctx, {n}).front());
}

std::vector<std::vector<platform::ProcessHandle>> OpenInstancesClients(const CEngineContext& ctx,
                                                                       const std::vector<std::uint32_t>& numbers) {
    std::vector<std::pair<std::string, std::string>> wanted;
    for (std::uint32_t n : numbers) {
        // No instance asks for nothing: an empty directory is never searched.
        wanted.emplace_back(FormatClientTitle(n), n == 0 ? std::string() : ctx.store.GetInstancePath(n));
    }
    return platform::FindProcessesByTitles(wanted);
}

std::vector<std::vector<platform::ProcessHandle>> OpenSlotClients(const CEngineContext& ctx) {
    std::vector<std::uint32_t> numbers;
    for (std::size_t k = 0; k < ctx.RunningSlots.Size(); ++k)
        numbers.push_back(ctx.RunningSlots.Get(k));
    return OpenInstancesClients(ctx, numbers);
}

bool KillInstanceClients(CEngineContext& ctx, std::uint32_t n) {
    return KillInstancesClients(ctx, {n}) != 0;
}

std::size_t KillInstancesClients(CEngineContext& ctx, const std::vector<std::uint32_t>& numbers) {
    std::vector<std::vector<platform::ProcessHandle>> clients = OpenInstancesClients(ctx, numbers);
    std::vector<std::uint32_t> killed;
    for (std::size_t i = 0; i < numbers.size(); ++i)
        if (!clients[i].empty())
            killed.push_back(numbers[i]);
    // A process stuck in the kernel takes SIGKILL but does not go: after a while it is left
    // behind, said so, so that exit and the runners go on.
    const auto deadline = std::chrono::steady_clock::now() + ctx.timings.killWait;
    std::vector<std::uint32_t> left = numbers;
    while (!left.empty()) {
        std::vector<std::uint32_t> again;
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (clients[i].empty())
                continue;
            if (std::chrono::steady_clock::now() >= deadline) {
                for (const platform::ProcessHandle& client : clients[i])
                    ReportUnkillable(left[i], client.Pid());
                continue;
            }
            bool anySignalled = false;
            for (platform::ProcessHandle& client : clients[i]) {
                anySignalled = client.Terminate() || anySignalled;
                // Gives the process time to go, so the next look does not find it again.
                std::this_thread::sleep_for(ctx.timings.killPause);
            }
            // A process we may not signal would be found again for ever.
            if (anySignalled)
                again.push_back(left[i]);
        }
        // One look through /proc for every instance still to check.
        left = std::move(again);
        clients = left.empty() ? decltype(clients)() : OpenInstancesClients(ctx, left);
    }
    for (std::uint32_t n : killed)
        ctx.RunningSlots.FreeAllOf(n);
    return killed.size();
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
