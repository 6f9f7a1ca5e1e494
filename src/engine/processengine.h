#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <thread>

#include "engine/enginecontext.h"
#include "platform/event.h"

namespace vantrel {

class CWatcher;

// What a restart asks of the dialog. Called on the dialog's thread, inside RestartEngine.
class IEngineHost {
public:
    virtual ~IEngineHost() = default;
    virtual void RefreshCounters() = 0; // recount, choose the icon, update the tray
    virtual void ShowFields() = 0;      // write the members into the controls
};

// The processing supervisor: fills every free slot with a runner thread that processes the
// oldest waiting work unit with one client, and re-applies priority, affinity and the watcher.
// Every public operation runs on the dialog's thread.
class CProcessEngine {
public:
    CProcessEngine(CEngineContext& ctx, IEngineHost& host, CWatcher& watcher);
    ~CProcessEngine(); // Shutdown()
    CProcessEngine(const CProcessEngine&) = delete;
    CProcessEngine& operator=(const CProcessEngine&) = delete;

    void RestartEngine();
    std::uint32_t ChooseWatchedInstance() const;

    // The chosen ClientPriority on the watched instance's client (the priority radios).
    void ApplyClientPriority();
    // Each running client bound to one processor by its slot, or to all (SetAffinity off).
    void ApplyAffinity();
    // ClientShowMode on the window of every running client (Hide Processing toggled).
    void ShowRunningClients();

    // Removes slots from the top, killing each removed slot's clients, or appends free slots, until
    // the table has `count` slots (clamped to the table's capacity).
    void ResizeSlots(unsigned count);
    // Start-up: stops clients left by an earlier run in instances 1..CountInstances.
    void KillLeftoverClients();
    // Exit: kills the client of every slot (each runner ends its own through the handle that
    // started it, then any client a slot still names is killed by title), and ends and joins every
    // runner; none posts anything more and later restarts start nothing. Idempotent.
    void Shutdown();

    // Runner threads not yet joined (finished ones are joined at each restart).
    std::size_t RunnerCount() const { return m_runners.size(); }

private:
    struct CRunner {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void FillFreeSlots();
    bool StartRunner();
    void JoinFinishedRunners();
    void SetBusyClientsIdle();

    CEngineContext& m_ctx;
    IEngineHost& m_host;
    CWatcher& m_watcher;
    platform::CEvent m_SlotClaimedEvent;
    // Set once, by Shutdown: runners end their clients and waits and post nothing more.
    platform::CEvent m_StopEvent;
    std::list<CRunner> m_runners; // nodes never move: each thread marks its own as finished
};

// The processor mask of slot k's client with SetAffinity on: bit (k mod 64) of the system mask
// when that processor is in it, else the whole system mask.
std::uint64_t SlotAffinityMask(std::size_t k, std::uint64_t systemMask);

} // namespace vantrel
