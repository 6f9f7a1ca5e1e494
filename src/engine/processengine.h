#pragma once

#include <cstdint>

#include "engine/enginecontext.h"

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
    // Exit: kills the client of every slot, then ends and joins every runner. Idempotent.
    void Shutdown();
};

} // namespace vantrel
