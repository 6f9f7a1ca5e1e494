#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <thread>
#include <vector>

#include "engine/enginecontext.h"
#include "engine/processrunner.h"
#include "platform/event.h"
#include "platform/process.h"

namespace vantrel {

class CWatcher;

// What a restart asks of the dialog. Called on the dialog's thread, inside RestartEngine.
class IEngineHost {
public:
    virtual ~IEngineHost() = default;
    virtual void RefreshCounters() = 0; // recount, choose the icon, update the tray
    virtual void ShowFields() = 0;      // write the members into the controls
    // The system refused to raise the watched client to the chosen priority (an ordinary user
    // without the right to raise priorities).
    virtual void PriorityRefused() {}
    // Asks the dialog to call CProcessEngine::ContinueFill from its event loop once delay has
    // passed, so the spacing between client starts never holds the dialog's thread. False when
    // the host cannot: the restart then waits for the spacing itself, as it always did.
    virtual bool ScheduleFill(std::chrono::milliseconds delay) {
        (void)delay;
        return false;
    }
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

    // Fills free slots as long as clients may start without waiting for the spacing (a runner that
    // finds nothing to process ends the filling: the slots left would find nothing either), then
    // re-applies the watched instance, priority, affinity and watcher. Where the host calls back
    // (ScheduleFill), one runner starts and the restart goes on without waiting for it: the host's
    // call sees what it took and starts the next, and the runner posts WM_APP once its client
    // runs, whose restart gives the client its priority and processors. False when the engine is
    // shut down and nothing was done, the counters not recounted either.
    bool RestartEngine();
    // The host's call after ScheduleFill: the next client start.
    void ContinueFill();
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
        explicit CRunner(bool detached) : claim(detached) {}
        std::thread thread;
        std::atomic<bool> finished{false};
        platform::CEvent claimedEvent;
        CRunnerClaim claim;
        std::chrono::steady_clock::time_point started;
    };
    using SlotClients = std::vector<std::vector<platform::ProcessHandle>>;

    void FillFreeSlots();
    // Starts one runner; none when no thread could be started.
    CRunner* StartRunner(bool detached);
    // Whether the fill may go on after the runner the host's call left deciding.
    bool TakeDecidedRunner();
    void JoinFinishedRunners();
    void SetBusyClientsIdle(const SlotClients& clients, std::uint32_t watched);
    void ApplyClientPriority(const SlotClients& clients);
    void ApplyAffinity(const SlotClients& clients);

    CEngineContext& m_ctx;
    IEngineHost& m_host;
    CWatcher& m_watcher;
    // Set once, by Shutdown: runners end their clients and waits and post nothing more.
    platform::CEvent m_StopEvent;
    std::list<CRunner> m_runners; // nodes never move: each thread marks its own as finished
    std::optional<std::chrono::steady_clock::time_point> m_lastClientStart;
    bool m_bFillScheduled = false;        // the host will call ContinueFill
    CRunner* m_pDecidingRunner = nullptr; // started without waiting, its outcome not yet seen
    // The last RestartEngine call: a runner started before it cannot end the fill it asks for.
    std::chrono::steady_clock::time_point m_lastRestartAsked;
};

// The processors of slot k's client with SetAffinity on: the k-th processor of the program's own
// set (counted from 0), whatever numbers its processors have; the whole set for a slot at or past
// the set's size.
std::vector<unsigned> SlotProcessors(std::size_t k, const std::vector<unsigned>& allowed);

} // namespace vantrel
