#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/cachestore.h"
#include "core/configuration.h"
#include "control/dialogview.h"
#include "control/scheduler.h"
#include "control/statusreport.h"
#include "data/progress.h"
#include "engine/enginecontext.h"
#include "engine/processengine.h"
#include "engine/transmitter.h"
#include "engine/watcher.h"

// The main dialog's logic without a toolkit: every handler, the engine's messages, start-up and
// exit. A window is a thin view over it (IDialogView) and forwards its widgets' signals here; the
// engine's messages and timers reach it through the front end's scheduler. Tests drive it with a
// view and a scheduler of their own.
namespace vantrel {

// The line the window shows once when the system will not raise the watched client's priority.
inline constexpr const char* kPriorityRefusedNotice =
    "The system does not let Vantrel raise the watched client's priority; it stays lower. "
    "The README's section on rights says how to allow it.";

// The line the window shows while the CSV log refuses rows.
inline constexpr const char* kLogUnwritableNotice =
    "ORVALog.csv cannot be written: finished results wait to be sent until their rows can be written, "
    "a day at most. Check the free disk space and the rights on the log and its folder.";

// wParam of the registered message that ends the program.
inline constexpr unsigned kExitRequest = 16;

class CVantrelController final : public IEngineHost, public ITransmitHost, public IOptionsView {
public:
    // view: the window, or none for a program without one. arguments: the process command line
    // after the program name. configPath: the configuration file beside the executable.
    CVantrelController(CEngineContext& ctx, IDialogView* view, IScheduler& scheduler,
                       std::vector<std::string> arguments, std::string configPath);
    ~CVantrelController() override;
    CVantrelController(const CVantrelController&) = delete;
    CVantrelController& operator=(const CVantrelController&) = delete;

    // The dialog's initialisation, in its order. startMinimized: the program was asked to show
    // its window minimised.
    void OnInitDialog(bool startMinimized);

    // Engine messages (WM_APP, WM_APP_1, WM_APP_4) and the dialog's timers.
    void OnMessage(unsigned message);
    void OnTimer(unsigned id);
    // The registered message from another program: kExitRequest ends the program.
    void OnRegisteredMessage(unsigned wParam);

    // Shared operations.
    // RestartEngine, then the counters and fields where the restart did not refresh them.
    void RestartAndRecount();
    void RefreshCounters() override;
    void ShowFields() override;
    void ApplyDesiredCacheSize();
    void ApplyMaxProcesses();
    void UpdateProgress();
    void UpdateTrayTip();
    // Shows what the last count found (icon, log state, tip) under the options as they are now.
    void ShowCounterState();
    const CacheCounters& Counters() const { return m_counters; }
    // The counters, the watched work unit, the passes and the retry timer, for a status request;
    // the retry timer's remaining time is the view's to add.
    StatusReport Status() const;
    bool TransmitRunning() const;
    // Exit has ended the dialog.
    bool HasEnded() const { return m_bEnded; }
    // The bar's completion as last shown, 0 to 100.
    float ProgressPercent() const;
    const char* TransmitCaption() const;

    // Handlers; checked is the control's new state.
    void OnHideProcessing(bool checked);
    void OnServerMode(EServerMode mode);
    void OnPortChanged();
    void OnAutoTransmit(bool checked);
    void OnDisplayTransmit(bool checked);
    void OnUseColon(bool checked);
    void OnMonitorProgress(bool checked);
    void OnUseSpy(bool checked);
    void On24HourClock(bool checked);
    void OnCreateLog(bool checked);
    void OnClientPriority(EClientPriority priority);
    void OnSetAffinity(bool checked);
    void OnUpdateProgressNow();
    // "Notify me of problems".
    void OnNotifyProblems(bool checked);
    // False, and the failure reported to the engine's events, when the file could not be written.
    bool OnSaveConfig();
    void OnTransmit();
    void OnEnter();
    // Exit: false (and nothing done) when a field is refused.
    bool Exit();
    // New Client with the file the user chose.
    void NewClient(const std::string& path);

    // The application's exit, after the dialog has ended: the watcher stopped for good, every
    // slot's client killed, every engine thread joined.
    void Shutdown();

    CWatcher& Watcher() { return *m_watcher; }
    CProcessEngine& Engine() { return *m_engine; }
    CTransmitter& Transmitter() { return *m_transmitter; }

private:
    // ITransmitHost
    void TransmitStateChanged(bool running) override;
    void ArmRetryTimer(std::chrono::milliseconds period) override;
    void KillRetryTimer() override;
    void TakeControlValues() override;
    // IEngineHost
    void PriorityRefused() override;
    bool ScheduleFill(std::chrono::milliseconds delay) override;
    // IOptionsView
    void PostMinimise() override;
    void ResizeRunningSlots(unsigned maxProcesses) override;
    void HideAffinityCheckBox() override;
    void EnableServerControls(const ServerControlStates& states) override;

    // Applies the desired size as ApplyDesiredCacheSize does, counting the cache as it goes, so
    // the restart after it need not walk it again; newest (when given) hears of every instance of
    // the run. False when the size was not applied, and newest heard nothing.
    bool ApplyDesiredCacheSize(NewestUserInfo* newest);
    // Copies the account file with the most results beside the program, when it counts more than
    // the one there; newest from a walk that has just looked, or none to look now.
    void CopyNewestUserInfo(std::optional<NewestUserInfo> newest);
    // A client that cannot be executed is named in the window and on stderr, without stopping
    // anything: its runners try it again after every hang check, so it runs once it is fixed.
    void CheckClientExecutable();
    void UpdateNotice();
    // The log refuses rows while logging is on.
    bool LogUnwritable() const;
    // The log's state and the rows lost, in the window's notice line when they change.
    void CheckLogState();

    CEngineContext& m_ctx;
    IDialogView& m_view; // the window, or one that shows nothing
    IScheduler& m_scheduler;
    std::vector<std::string> m_arguments;
    std::string m_strConfigPath;
    CacheCounters m_counters;
    CacheTally m_tally;           // what the last walk of the cache found
    bool m_bTallyCurrent = false; // nothing has changed the cache since: the next count reuses it
    ProgressFigures m_progress; // as last shown
    std::unique_ptr<CWatcher> m_watcher;
    std::unique_ptr<CProcessEngine> m_engine;
    std::unique_ptr<CTransmitter> m_transmitter;
    std::unique_ptr<CProgressMonitor> m_monitor;
    bool m_bShutDown = false;
    bool m_bEnded = false;
    // Calls handed to the scheduler see whether the controller still exists.
    std::shared_ptr<CVantrelController*> m_self;
    bool m_bPriorityRefusalShown = false;
    std::string m_strClientNotice; // empty while the client can be executed
    bool m_bLogUnwritableShown = false;
    unsigned m_nLogRowsLostShown = 0;
};

} // namespace vantrel
