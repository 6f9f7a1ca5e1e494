#include "engine/processengine.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>

#include "core/clientcontract.h"
#include "engine/clientcontrol.h"
#include "engine/processrunner.h"
#include "engine/watcher.h"
#include "platform/fileops.h"
#include "platform/process.h"

namespace vantrel {

namespace {

// A work unit stamped a day or more ahead is never the watched one.
constexpr std::int64_t kWatchHorizonSeconds = 86'400;

std::uint32_t PriorityClassOf(EClientPriority priority) {
    switch (priority) {
    case CP_NORMAL:
        return platform::NORMAL_PRIORITY_CLASS;
    case CP_HIGH:
        return platform::HIGH_PRIORITY_CLASS;
    case CP_LOW:
        break;
    }
    return platform::IDLE_PRIORITY_CLASS;
}

std::int64_t SecondsSinceEpoch() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::vector<unsigned> SlotProcessors(std::size_t k, const std::vector<unsigned>& allowed) {
    // A slot past the last processor shares the whole set: wrapping round would put two clients
    // on one processor while another carries one.
    if (k >= allowed.size())
        return allowed;
    return {allowed[k]};
}

CProcessEngine::CProcessEngine(CEngineContext& ctx, IEngineHost& host, CWatcher& watcher)
    : m_ctx(ctx), m_host(host), m_watcher(watcher) {}

CProcessEngine::~CProcessEngine() { Shutdown(); }

bool CProcessEngine::RestartEngine() {
    if (m_StopEvent.IsSet())
        return false;
    m_lastRestartAsked = std::chrono::steady_clock::now();
    JoinFinishedRunners();
    FillFreeSlots();
    std::uint32_t watched = ChooseWatchedInstance();
    m_ctx.WatchedInstance.store(watched);
    // One look through /proc for every slot's clients serves the priority and affinity steps.
    const SlotClients clients = OpenSlotClients(m_ctx);
    // After the fill, so the clients started just now are lowered too. The watched client is left
    // as it is: an ordinary user may lower a priority but never raise it again.
    SetBusyClientsIdle(clients, watched);
    m_host.RefreshCounters();

    bool useSpy = m_ctx.options.UseSpy.load();
    if (watched != 0 && (m_ctx.options.MonitorProgress.load() || useSpy)) {
        m_watcher.PulseStop();
        if (useSpy)
            m_watcher.CopySpyFiles(watched);
        m_watcher.StartWatcher();
    }
    if (watched != 0)
        ApplyClientPriority(clients);
    ApplyAffinity(clients);
    m_host.ShowFields();
    return true;
}

void CProcessEngine::ContinueFill() {
    m_bFillScheduled = false;
    // Only the start: its runner's WM_APP brings the restart once the client runs.
    if (!m_StopEvent.IsSet())
        FillFreeSlots();
}

bool CProcessEngine::TakeDecidedRunner() {
    if (m_pDecidingRunner == nullptr)
        return true;
    switch (m_pDecidingRunner->claim.State()) {
    case CRunnerClaim::Deciding:
        // Looked at again on the dialog's next call; the runner posts nothing until its client runs.
        m_bFillScheduled = m_host.ScheduleFill(m_ctx.timings.runnerSpacing);
        return false;
    case CRunnerClaim::Started:
        m_lastClientStart = m_pDecidingRunner->claim.ClientStart();
        m_pDecidingRunner = nullptr;
        return true;
    case CRunnerClaim::Nothing:
        break;
    }
    // Nothing to process when it looked; a restart asked for since may find what came after.
    const bool askedSince = m_lastRestartAsked > m_pDecidingRunner->started;
    m_pDecidingRunner = nullptr;
    return askedSince;
}

void CProcessEngine::FillFreeSlots() {
    // A call from the host is on its way; until it comes no client may start.
    if (m_bFillScheduled || !TakeDecidedRunner())
        return;
    // The size is read again at every step; a runner claims the lowest free slot, which need not
    // be j.
    for (std::size_t j = 0; j < m_ctx.RunningSlots.Size(); ++j) {
        if (m_ctx.RunningSlots.Get(j) != 0)
            continue;
        if (m_lastClientStart) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(*m_lastClientStart + m_ctx.timings.runnerSpacing -
                                                                     std::chrono::steady_clock::now());
            if (wait.count() > 0) {
                // The dialog's thread is not held for the spacing where the host can call back.
                if (m_host.ScheduleFill(wait)) {
                    m_bFillScheduled = true;
                    return;
                }
                std::this_thread::sleep_for(wait);
            }
        }
        // Where the host calls back, its call sees what this runner took.
        const bool detached = m_host.ScheduleFill(m_ctx.timings.runnerSpacing);
        m_bFillScheduled = detached;
        CRunner* runner = StartRunner(detached);
        if (runner == nullptr)
            break;
        m_lastClientStart = std::chrono::steady_clock::now();
        if (detached) {
            m_pDecidingRunner = runner;
            return;
        }
        runner->claimedEvent.Wait();
        if (runner->claim.State() != CRunnerClaim::Started)
            break;
        m_lastClientStart = runner->claim.ClientStart();
    }
}

CProcessEngine::CRunner* CProcessEngine::StartRunner(bool detached) {
    CRunner& runner = m_runners.emplace_back(detached);
    runner.started = std::chrono::steady_clock::now();
    try {
        runner.thread = std::thread([this, &runner] {
            ProcessRunnerThread(m_ctx, runner.claimedEvent, m_StopEvent, &runner.claim);
            runner.finished.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        m_runners.pop_back();
        return nullptr;
    }
    return &runner;
}

void CProcessEngine::JoinFinishedRunners() {
    for (auto it = m_runners.begin(); it != m_runners.end();) {
        // The runner whose outcome is still to be seen stays, however it ended.
        if (it->finished.load(std::memory_order_acquire) && &*it != m_pDecidingRunner) {
            it->thread.join();
            it = m_runners.erase(it);
        } else {
            ++it;
        }
    }
}

void CProcessEngine::SetBusyClientsIdle(const SlotClients& clients, std::uint32_t watched) {
    for (std::size_t k = 0; k < clients.size() && k < m_ctx.RunningSlots.Size(); ++k)
        if (std::uint32_t n = m_ctx.RunningSlots.Get(k); n != 0 && n != watched)
            for (const platform::ProcessHandle& client : clients[k])
                platform::SetPriorityClass(client, platform::IDLE_PRIORITY_CLASS);
}

std::uint32_t CProcessEngine::ChooseWatchedInstance() const {
    std::int64_t bound = SecondsSinceEpoch() + kWatchHorizonSeconds;
    std::uint32_t choice = 0;
    for (std::size_t k = 0; k < m_ctx.RunningSlots.Size(); ++k) {
        std::uint32_t n = m_ctx.RunningSlots.Get(k);
        if (n == 0)
            continue;
        std::optional<std::int64_t> time =
            platform::LastWriteTime(platform::JoinPath(m_ctx.store.GetInstancePath(n), contract::kWorkUnitFile));
        if (time && *time < bound) {
            choice = n;
            bound = *time;
        }
    }
    return choice;
}

void CProcessEngine::ApplyClientPriority() {
    if (m_ctx.WatchedInstance.load() != 0)
        ApplyClientPriority(OpenSlotClients(m_ctx));
}

void CProcessEngine::ApplyClientPriority(const SlotClients& clients) {
    std::uint32_t watched = m_ctx.WatchedInstance.load();
    if (watched == 0)
        return;
    const std::uint32_t priorityClass = PriorityClassOf(m_ctx.options.ClientPriority.load());
    bool refused = false;
    for (std::size_t k = 0; k < clients.size() && k < m_ctx.RunningSlots.Size(); ++k)
        if (m_ctx.RunningSlots.Get(k) == watched)
            for (const platform::ProcessHandle& client : clients[k])
                platform::SetPriorityClass(client, priorityClass, &refused);
    if (refused)
        m_host.PriorityRefused();
}

void CProcessEngine::ApplyAffinity() {
    ApplyAffinity(OpenSlotClients(m_ctx));
}

void CProcessEngine::ApplyAffinity(const SlotClients& clients) {
    // Every processor the program may use, not only the first 64.
    const std::vector<unsigned> allowed = platform::GetOwnProcessors();
    if (allowed.empty())
        return;
    bool pinned = m_ctx.options.SetAffinity.load();
    for (std::size_t k = 0; k < clients.size(); ++k) {
        const std::vector<unsigned> processors = pinned ? SlotProcessors(k, allowed) : allowed;
        for (const platform::ProcessHandle& client : clients[k])
            platform::SetProcessAffinity(client, processors);
    }
}

void CProcessEngine::ShowRunningClients() { ShowInstanceClients(m_ctx, m_ctx.options.ClientShowMode.load()); }

void CProcessEngine::ResizeSlots(unsigned count) {
    std::size_t size = std::min<std::size_t>(count, CRunningSlots::kCapacity);
    // The slot goes first, so its runner frees nothing when its client is killed.
    while (m_ctx.RunningSlots.Size() > size)
        if (std::uint32_t n = m_ctx.RunningSlots.RemoveLast(); n != 0)
            KillInstanceClients(m_ctx, n);
    if (m_ctx.RunningSlots.Size() < size)
        m_ctx.RunningSlots.Resize(size);
}

void CProcessEngine::KillLeftoverClients() {
    // Every numbered directory, not only the run up to the first gap: a run killed while a pass
    // re-created an instance leaves a gap, with its clients still working above it.
    KillInstancesClients(m_ctx, m_ctx.store.ListInstanceNumbers());
    // The empty groups of clients that an ended copy of the program started.
    platform::RemoveLeftoverClientGroups();
}

void CProcessEngine::Shutdown() {
    // Every runner ends its own client through the handle that started it, which also catches a
    // client that started too late to be found by its title, and posts nothing more.
    m_StopEvent.Set();
    for (CRunner& runner : m_runners)
        runner.thread.join();
    m_runners.clear();
    m_pDecidingRunner = nullptr;
    std::vector<std::uint32_t> busy;
    for (std::size_t k = 0; k < m_ctx.RunningSlots.Size(); ++k)
        if (std::uint32_t n = m_ctx.RunningSlots.Get(k); n != 0 && std::find(busy.begin(), busy.end(), n) == busy.end())
            busy.push_back(n);
    KillInstancesClients(m_ctx, busy);
}

} // namespace vantrel
