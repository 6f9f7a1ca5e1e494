#pragma once

#include "engine/enginecontext.h"
#include "platform/event.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vantrel {

// The work-unit directory watcher: one thread at a time waits for files being written in the
// watched instance's directory and posts WM_APP_4 to the dialog at its start and at every change.
// The public operations belong to the dialog's thread.
class CWatcher {
public:
    explicit CWatcher(CEngineContext& ctx);
    ~CWatcher(); // stops for good and joins
    CWatcher(const CWatcher&) = delete;
    CWatcher& operator=(const CWatcher&) = delete;

    // How a starting watcher picks the instance when WatchedInstance is 0 (the supervisor's
    // ChooseWatchedInstance). Set once, before the first watcher starts; without it the watcher
    // of an unset WatchedInstance watches the program directory.
    void SetWatchedInstanceChooser(std::function<std::uint32_t()> chooser);

    // Ends the running watcher, if any, and starts a new WatcherThread. Two never run at once.
    void StartWatcher();
    // Ends the watcher running at this moment; a watcher started later is not affected.
    void PulseStop();
    // Ends every watcher for good, including one a later StartWatcher would start (exit).
    void StopForGood();
    bool IsRunning() const;

    // Copies the watched instance's files for an outside monitor into the program directory:
    // at a (re)start the six of CopySpyFiles, at every change the two of CopyChangedFiles.
    // Instance 0 is the program directory itself, so there is nothing to copy.
    void CopySpyFiles(std::uint32_t n) const;
    void CopyChangedFiles(std::uint32_t n) const;

    // The check boxes "Use Vantrel" (MonitorProgress) and "Use ORVA Spy" (UseSpy), called after the
    // option already holds its new state. OnMonitorProgressClicked returns whether the dialog must
    // run UpdateProgress now (a watcher that starts asks for it by its first message instead).
    bool OnMonitorProgressClicked();
    void OnUseSpyClicked();
    // The dialog's WM_APP_4 handler: UpdateProgress while MonitorProgress is on, then the copies of
    // the changed files while UseSpy is on.
    void OnWatcherMessage(const std::function<void()>& updateProgress) const;

private:
    // One watcher thread with the stop signal that it alone waits on.
    struct CWatcherRun {
        platform::CEvent stop;
        std::atomic<bool> ended{false};
        std::function<std::uint32_t()> chooseWatchedInstance; // a copy, so the thread never shares it
        std::thread thread;
    };

    void WatcherThread(CWatcherRun& run);
    std::uint32_t TakeWatchedInstance(const CWatcherRun& run);
    // Stops and joins the current run; m_lock is held by the caller.
    void EndCurrentRun();

    CEngineContext& m_ctx;
    std::function<std::uint32_t()> m_chooseWatchedInstance;
    mutable std::mutex m_lock; // guards m_current and m_bStoppedForGood
    std::unique_ptr<CWatcherRun> m_current;
    bool m_bStoppedForGood = false;
};

} // namespace vantrel
