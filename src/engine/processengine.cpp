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

std::uint64_t SlotAffinityMask(std::size_t k, std::uint64_t systemMask) {
    std::uint64_t processor = std::uint64_t{1} << (k % 64);
    return (systemMask & processor) != 0 ? processor : systemMask;
}

CProcessEngine::CProcessEngine(CEngineContext& ctx, IEngineHost& host, CWatcher& watcher)
    : m_ctx(ctx), m_host(host), m_watcher(watcher) {}

CProcessEngine::~CProcessEngine() { Shutdown(); }

void CProcessEngine::RestartEngine() {
    if (m_StopEvent.IsSet())
        return;
    JoinFinishedRunners();
    FillFreeSlots();
    // After the fill, so the clients started just now are lowered too.
    SetBusyClientsIdle();

    std::uint32_t watched = ChooseWatchedInstance();
    m_ctx.WatchedInstance.store(watched);
    m_host.RefreshCounters();

    bool useSpy = m_ctx.options.UseSpy.load();
    if (watched != 0 && (m_ctx.options.MonitorProgress.load() || useSpy)) {
        m_watcher.PulseStop();
        if (useSpy)
            m_watcher.CopySpyFiles(watched);
        m_watcher.StartWatcher();
    }
    if (watched != 0)
        ApplyClientPriority();
    ApplyAffinity();
    m_host.ShowFields();
}

void CProcessEngine::FillFreeSlots() {
    // The size is read again at every step; a runner claims the lowest free slot, which need not
    // be j, and one that finds no work leaves j free, so the next j gets a runner of its own.
    for (std::size_t j = 0; j < m_ctx.RunningSlots.Size(); ++j) {
        if (m_ctx.RunningSlots.Get(j) != 0)
            continue;
        if (!StartRunner())
            break;
        std::this_thread::sleep_for(m_ctx.timings.runnerSpacing);
    }
}

bool CProcessEngine::StartRunner() {
    CRunner& runner = m_runners.emplace_back();
    // Reset before the runner exists, so its signal cannot come before the reset and be lost.
    m_SlotClaimedEvent.Reset();
    try {
        runner.thread = std::thread([this, &runner] {
            ProcessRunnerThread(m_ctx, m_SlotClaimedEvent, m_StopEvent);
            runner.finished.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        m_runners.pop_back();
        return false;
    }
    m_SlotClaimedEvent.Wait();
    return true;
}

void CProcessEngine::JoinFinishedRunners() {
    for (auto it = m_runners.begin(); it != m_runners.end();) {
        if (it->finished.load(std::memory_order_acquire)) {
            it->thread.join();
            it = m_runners.erase(it);
        } else {
            ++it;
        }
    }
}

void CProcessEngine::SetBusyClientsIdle() {
    for (std::size_t k = 0; k < m_ctx.RunningSlots.Size(); ++k)
        if (std::uint32_t n = m_ctx.RunningSlots.Get(k); n != 0)
            SetClientPriority(m_ctx, n, platform::IDLE_PRIORITY_CLASS);
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
    std::uint32_t watched = m_ctx.WatchedInstance.load();
    if (watched != 0)
        SetClientPriority(m_ctx, watched, PriorityClassOf(m_ctx.options.ClientPriority.load()));
}

void CProcessEngine::ApplyAffinity() {
    std::uint64_t systemMask = platform::GetOwnAffinityMask();
    if (systemMask == 0)
        return;
    bool pinned = m_ctx.options.SetAffinity.load();
    for (std::size_t k = 0; k < m_ctx.RunningSlots.Size(); ++k) {
        std::uint32_t n = m_ctx.RunningSlots.Get(k);
        if (n == 0)
            continue;
        std::uint64_t mask = pinned ? SlotAffinityMask(k, systemMask) : systemMask;
        for (const platform::ProcessHandle& client : OpenInstanceClient(m_ctx, n))
            platform::SetProcessAffinity(client, mask);
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
    for (std::uint32_t n : m_ctx.store.ListInstanceNumbers())
        KillInstanceClients(m_ctx, n);
}

void CProcessEngine::Shutdown() {
    // Every runner ends its own client through the handle that started it, which also catches a
    // client that started too late to be found by its title, and posts nothing more.
    m_StopEvent.Set();
    for (CRunner& runner : m_runners)
        runner.thread.join();
    m_runners.clear();
    for (std::size_t k = 0; k < m_ctx.RunningSlots.Size(); ++k)
        if (std::uint32_t n = m_ctx.RunningSlots.Get(k); n != 0)
            KillInstanceClients(m_ctx, n);
}

} // namespace vantrel
