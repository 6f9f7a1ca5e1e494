#include "control/vantrelcontroller.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "core/configfile.h"
#include "core/clientcontract.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "control/trayrules.h"

namespace vantrel {

namespace {

// Shows the wait cursor for as long as it lives.
class WaitCursor {
public:
    explicit WaitCursor(IDialogView& view) : m_view(view) { m_view.SetWaitCursor(true); }
    ~WaitCursor() { m_view.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IDialogView& m_view;
};

// A program without a window: its options are its fields, and nothing is shown.
class CNoWindow final : public IDialogView {
public:
    bool ReadFields() override { return true; }
    void ReadFieldsQuietly() override {}
    bool FieldsAcceptable() const override { return true; }
    void ShowFields() override {}
    void SetIcon(unsigned) override {}
    void SetTrayTip(const std::string&) override {}
    void ShowProgress(const ProgressFigures&) override {}
    void ShowNotice(const std::string&) override {}
    void SetWaitCursor(bool) override {}
    void EnableServerControls(const ServerControlStates&) override {}
    void HideAffinityCheckBox() override {}
    void ShowProgramDirectory(const std::string&) override {}
    void TransmitStateChanged(bool) override {}
    void PostSysCommand(unsigned) override {}
    bool IsMinimized() const override { return false; }
    void EndDialog() override {}
};

IDialogView& NoWindow() {
    static CNoWindow none;
    return none;
}

} // namespace

CVantrelController::CVantrelController(CEngineContext& ctx, IDialogView* view, IScheduler& scheduler,
                                       std::vector<std::string> arguments, std::string configPath)
    : m_ctx(ctx), m_view(view != nullptr ? *view : NoWindow()), m_scheduler(scheduler),
      m_arguments(std::move(arguments)), m_strConfigPath(std::move(configPath)),
      m_watcher(std::make_unique<CWatcher>(ctx)), m_engine(std::make_unique<CProcessEngine>(ctx, *this, *m_watcher)),
      m_transmitter(std::make_unique<CTransmitter>(ctx, *this)),
      m_monitor(std::make_unique<CProgressMonitor>(ctx.store)), m_self(std::make_shared<CVantrelController*>(this)) {
    m_watcher->SetWatchedInstanceChooser([engine = m_engine.get()] { return engine->ChooseWatchedInstance(); });
}

CVantrelController::~CVantrelController() {
    Shutdown();
}

void CVantrelController::OnInitDialog(bool startMinimized) {
    COptions& options = m_ctx.options;
    options.HideProcessing = true;
    options.ClientShowMode = platform::SW_HIDE;
    m_view.PostSysCommand(startMinimized ? SC_MINIMIZE : SC_RESTORE);

    CConfigurationReader reader(CollectOptionText(m_arguments, m_strConfigPath), options, *this);
    reader.ReadSteps(1, 6); // ... "-CPU": the slot table now has MaxProcesses free slots
    m_engine->KillLeftoverClients();
    reader.ReadSteps(7, 7); // "-AFFINITY"
    // The chosen priority before the first clients start: a watched client put at idle priority
    // could not be raised again by an ordinary user.
    reader.ReadClientPriority();
    // The desired size applied below looks into every instance and counts the cache as it goes;
    // the first restart needs only the size that the desired size starts from.
    m_tally = TallyCacheSize(m_ctx.store);
    m_bTallyCurrent = true;
    m_engine->RestartEngine();
    m_bTallyCurrent = false;

    if (reader.ReadMonitorProgress())
        OnMonitorProgress(true);
    reader.ReadUseSpy();
    OnUseSpy(options.UseSpy);
    reader.ReadCreateLog();
    OnCreateLog(options.CreateLog);
    reader.ReadSteps(11, 16); // server mode and values, then the client priority
    reader.ReadNotify();

    // The restart above has just counted the cache; what the options read since change is only
    // how the count is shown, and another walk would hold a large cache's window that much longer.
    ShowCounterState();
    ShowFields();
    // The walk that applies the desired size reads every account file as it goes.
    NewestUserInfo newest;
    const bool applied = ApplyDesiredCacheSize(&newest);
    if (!applied)
        RefreshCounters();
    CopyNewestUserInfo(applied ? std::optional(newest) : std::nullopt);
    m_transmitter->CheckAutoTransmit(m_counters.ReadyToTransmit, m_counters.NeedToFill);
}

void CVantrelController::CopyNewestUserInfo(std::optional<NewestUserInfo> newest) {
    const CCacheStore& store = m_ctx.store;
    if (!newest) {
        newest.emplace();
        unsigned count = store.CountInstances();
        for (std::uint32_t n = 1; n <= count; ++n)
            newest->Look(store, n);
    }
    // Only a file with more results than the program directory's own replaces it.
    if (newest->instance != 0 && newest->best > store.ReadResultCount(0))
        store.CopyToProgramDir(newest->instance, contract::kUserInfoFile);
}

void CVantrelController::OnMessage(unsigned message) {
    if (m_bShutDown)
        return;
    switch (message) {
    case WM_APP:
        // The restart has recounted the cache and shown the fields: a second walk of a large cache
        // would only hold the window longer while slots fill. A message that follows no change
        // (a client has started) shows the last count with the slots as they are now.
        m_bTallyCurrent = m_ctx.TakeClientStarted();
        m_engine->RestartEngine();
        m_bTallyCurrent = false;
        m_transmitter->CheckAutoTransmit(m_counters.ReadyToTransmit, m_counters.NeedToFill);
        break;
    case WM_APP_1:
        ApplyDesiredCacheSize();
        RestartAndRecount();
        m_transmitter->OnPassEnded(m_counters.ReadyToTransmit, m_counters.NeedToFill);
        break;
    case WM_APP_4:
        m_watcher->OnWatcherMessage([this] { UpdateProgress(); });
        break;
    default:
        break;
    }
}

void CVantrelController::OnTimer(unsigned id) {
    if (!m_bShutDown)
        m_transmitter->OnTimer(id, m_counters.ReadyToTransmit, m_counters.NeedToFill);
}

void CVantrelController::OnRegisteredMessage(unsigned wParam) {
    if (wParam == kExitRequest)
        Exit();
}

void CVantrelController::RefreshCounters() {
    CheckClientExecutable();
    if (!m_bTallyCurrent)
        m_tally = TallyCache(m_ctx.store);
    m_bTallyCurrent = false;
    m_counters = CountersOf(m_tally, m_ctx.RunningSlots);
    ShowCounterState();
}

void CVantrelController::ShowCounterState() {
    m_ctx.options.DesiredCacheSize = m_counters.DesiredCacheSize;
    m_view.SetIcon(ChooseTrayIcon(TransmitRunning(), m_counters));
    CheckLogState();
    UpdateTrayTip();
}

void CVantrelController::ShowFields() {
    m_view.ShowFields();
}

void CVantrelController::UpdateTrayTip() {
    m_view.SetTrayTip(ComposeTrayTip(m_ctx.options.MonitorProgress, ProgressPercent(), m_counters.ReadyToTransmit,
                                     m_counters.NeedToFill, LogUnwritable()));
}

void CVantrelController::ApplyDesiredCacheSize() {
    ApplyDesiredCacheSize(nullptr);
}

bool CVantrelController::ApplyDesiredCacheSize(NewestUserInfo* newest) {
    WaitCursor wait(m_view);
    if (TransmitRunning())
        return false;
    m_view.ReadFields(); // a refused number keeps its earlier value, which is applied
    // A pass started just now may not have said so yet: the hold, not the flag, keeps it from
    // walking the instances while they are renumbered.
    std::unique_lock passes = m_transmitter->HoldOffPasses();
    if (!passes.owns_lock())
        return false;
    const CCacheStore& store = m_ctx.store;
    const std::map<std::uint32_t, InstanceState> states = m_ctx.store.CompactInstances();
    // However the number came in, never more directories than the field allows.
    m_tally = MarkToDesiredSize(store, std::min(m_ctx.options.DesiredCacheSize, kDesiredCacheSizeLimit), states,
                                [&](std::uint32_t n) {
                                    if (newest != nullptr)
                                        newest->Look(store, n);
                                });
    m_bTallyCurrent = true;
    passes.unlock();
    RestartAndRecount();
    return true;
}

void CVantrelController::RestartAndRecount() {
    // A restart recounts the cache and shows the fields itself: a second walk right after it
    // would see the same cache, and hold the window as long again with a large one.
    if (!m_engine->RestartEngine()) {
        RefreshCounters();
        ShowFields();
    }
}

void CVantrelController::ApplyMaxProcesses() {
    WaitCursor wait(m_view);
    m_view.ReadFields();
    m_engine->ResizeSlots(m_ctx.options.MaxProcesses);
    RestartAndRecount();
}

void CVantrelController::UpdateProgress() {
    ProgressFigures figures = m_monitor->UpdateProgress(m_ctx.WatchedInstance, m_ctx.options.Use24HourClock,
                                                        std::time(nullptr));
    // Only the progress fields are refreshed: the client writes its state every few seconds, and
    // rewriting every field then would wipe whatever the user is typing.
    m_view.ShowProgress(figures);
    m_progress = figures;
    UpdateTrayTip();
}

StatusReport CVantrelController::Status() const {
    StatusReport report;
    report.ProgramDir = m_ctx.store.GetProgramDir();
    report.Running = true;
    report.Counters = m_counters;
    report.MonitorProgress = m_ctx.options.MonitorProgress;
    report.WatchedInstance = m_ctx.WatchedInstance.load();
    if (report.MonitorProgress && report.WatchedInstance != 0) {
        report.ProgressPercent = static_cast<double>(m_progress.Fraction) * 100.0;
        report.TotalText = m_progress.TotalText;
        report.LeftText = m_progress.LeftText;
        report.CompletionText = m_progress.CompletionText;
    }
    report.TransmitRunning = TransmitRunning();
    const PassRecord pass = m_transmitter->LastPass();
    report.LastPassEndedAt = pass.EndedAt;
    report.LastPassOutcome = pass.Outcome == EPassOutcome::Succeeded ? "succeeded"
                             : pass.Outcome == EPassOutcome::Failed  ? "failed"
                                                                      : "";
    report.RetryTimerArmed = m_transmitter->RetryTimerId() != 0;
    report.LogUnwritable = LogUnwritable();
    report.LogRowsLost = m_transmitter->LogRowsLost();
    return report;
}

float CVantrelController::ProgressPercent() const {
    return BarPercentOf(m_progress.Fraction);
}

bool CVantrelController::TransmitRunning() const {
    return m_transmitter->TransmitRunning();
}

const char* CVantrelController::TransmitCaption() const {
    return m_transmitter->TransmitCaption();
}

void CVantrelController::OnHideProcessing(bool checked) {
    m_ctx.options.HideProcessing = checked;
    m_ctx.options.ClientShowMode = checked ? platform::SW_HIDE : platform::SW_MINIMIZE;
    m_engine->ShowRunningClients();
}

void CVantrelController::OnServerMode(EServerMode mode) {
    m_view.ReadFields();
    SelectServerMode(m_ctx.options, mode, *this);
}

void CVantrelController::OnPortChanged() {
    m_view.ReadFields();
    UpdateUseColon(m_ctx.options, *this);
}

void CVantrelController::OnAutoTransmit(bool checked) {
    m_ctx.options.AutoTransmit = checked;
    m_transmitter->CheckAutoTransmit(m_counters.ReadyToTransmit, m_counters.NeedToFill);
}

void CVantrelController::OnDisplayTransmit(bool checked) {
    m_ctx.options.DisplayTransmit = checked;
}

void CVantrelController::OnUseColon(bool checked) {
    m_ctx.options.UseColon = checked;
}

void CVantrelController::OnMonitorProgress(bool checked) {
    m_ctx.options.MonitorProgress = checked;
    if (m_watcher->OnMonitorProgressClicked())
        UpdateProgress();
}

void CVantrelController::OnUseSpy(bool checked) {
    m_ctx.options.UseSpy = checked;
    m_watcher->OnUseSpyClicked();
}

void CVantrelController::On24HourClock(bool checked) {
    m_ctx.options.Use24HourClock = checked;
    if (m_ctx.options.MonitorProgress)
        UpdateProgress();
}

void CVantrelController::OnCreateLog(bool checked) {
    m_ctx.options.CreateLog = checked;
    m_ctx.options.LogEnabled = checked;
    // With logging off no result waits for the log any more.
    CheckLogState();
    UpdateTrayTip();
}

void CVantrelController::OnClientPriority(EClientPriority priority) {
    m_ctx.options.ClientPriority = priority;
    m_engine->ApplyClientPriority();
}

void CVantrelController::OnSetAffinity(bool checked) {
    m_ctx.options.SetAffinity = checked;
    m_engine->ApplyAffinity();
}

void CVantrelController::OnUpdateProgressNow() {
    UpdateProgress();
}

bool CVantrelController::OnSaveConfig() {
    m_view.ReadFields();
    if (SaveConfiguration(m_strConfigPath, m_ctx.options, m_view.IsMinimized()))
        return true;
    m_ctx.Report(EV_CONFIG_WRITE_FAILED);
    return false;
}

void CVantrelController::OnNotifyProblems(bool checked) {
    m_ctx.options.NotifyProblems = checked;
}

void CVantrelController::OnTransmit() {
    if (!TransmitRunning())
        m_view.ReadFields(); // the pass takes the server fields as they stand
    m_transmitter->TransmitToggle();
}

void CVantrelController::OnEnter() {
    ApplyDesiredCacheSize();
    ApplyMaxProcesses();
}

bool CVantrelController::Exit() {
    if (m_bShutDown)
        return true;
    if (!m_view.ReadFields())
        return false;
    // Disarms the retry timer and lets a running pass end cleanly; its client runs on.
    m_transmitter->Shutdown();
    m_bEnded = true;
    m_view.EndDialog();
    m_scheduler.End();
    return true;
}

void CVantrelController::NewClient(const std::string& path) {
    if (path.empty())
        return;
    const auto slotCount = static_cast<unsigned>(m_ctx.RunningSlots.Size());
    m_engine->ResizeSlots(0);
    m_ctx.store.InstallNewClient(path);
    m_engine->ResizeSlots(slotCount);
    m_engine->RestartEngine();
}

void CVantrelController::Shutdown() {
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    m_transmitter->Shutdown();
    m_watcher->StopForGood();
    m_engine->Shutdown();
}

void CVantrelController::TransmitStateChanged(bool running) {
    m_view.TransmitStateChanged(running);
}

void CVantrelController::ArmRetryTimer(std::chrono::milliseconds period) {
    m_scheduler.ArmRetryTimer(period);
}

void CVantrelController::KillRetryTimer() {
    m_scheduler.KillRetryTimer();
}

void CVantrelController::TakeControlValues() {
    m_view.ReadFieldsQuietly();
}

bool CVantrelController::ScheduleFill(std::chrono::milliseconds delay) {
    return m_scheduler.CallLater(delay, [self = std::weak_ptr(m_self)] {
        if (auto alive = self.lock(); alive && !(*alive)->m_bShutDown)
            (*alive)->m_engine->ContinueFill();
    });
}

void CVantrelController::PriorityRefused() {
    // Once a run: the refusal repeats at every restart and would otherwise flicker.
    if (m_bPriorityRefusalShown)
        return;
    m_bPriorityRefusalShown = true;
    std::fprintf(stderr, "Vantrel: %s\n", kPriorityRefusedNotice);
    UpdateNotice();
}

void CVantrelController::CheckClientExecutable() {
    const std::string client = m_ctx.store.GetClientPath();
    std::string notice;
    if (!client.empty() && !platform::IsExecutableFile(client))
        notice = "The client " + client +
                 " cannot be run: it is not an executable file. Vantrel tries it again after every hang check; "
                 "make it executable (chmod u+x) and processing starts.";
    if (notice == m_strClientNotice)
        return;
    m_strClientNotice = notice;
    if (!notice.empty())
        std::fprintf(stderr, "Vantrel: %s\n", notice.c_str());
    UpdateNotice();
}

bool CVantrelController::LogUnwritable() const {
    // A failure seen while logging was on says nothing once it is off: no row is wanted.
    return m_ctx.options.LogEnabled.load() && m_transmitter->LogUnwritable();
}

void CVantrelController::CheckLogState() {
    const bool unwritable = LogUnwritable();
    const unsigned lost = m_transmitter->LogRowsLost();
    if (unwritable == m_bLogUnwritableShown && lost == m_nLogRowsLostShown)
        return;
    if (unwritable && !m_bLogUnwritableShown)
        std::fprintf(stderr, "Vantrel: %s\n", kLogUnwritableNotice);
    m_bLogUnwritableShown = unwritable;
    m_nLogRowsLostShown = lost;
    UpdateNotice();
}

void CVantrelController::UpdateNotice() {
    std::string text = m_strClientNotice;
    auto add = [&text](const std::string& line) { text += (text.empty() ? "" : "\n") + line; };
    if (m_bPriorityRefusalShown)
        add(kPriorityRefusedNotice);
    if (m_bLogUnwritableShown)
        add(kLogUnwritableNotice);
    if (m_nLogRowsLostShown != 0)
        add(std::to_string(m_nLogRowsLostShown) + (m_nLogRowsLostShown == 1 ? " result was" : " results were") +
            " sent without " + (m_nLogRowsLostShown == 1 ? "its row" : "their rows") +
            ": ORVALog.csv could not be written for as long as a result may wait.");
    m_view.ShowNotice(text);
}

void CVantrelController::PostMinimise() {
    m_view.PostSysCommand(SC_MINIMIZE);
}

void CVantrelController::ResizeRunningSlots(unsigned maxProcesses) {
    m_ctx.RunningSlots.Resize(maxProcesses);
}

void CVantrelController::HideAffinityCheckBox() {
    m_view.HideAffinityCheckBox();
}

void CVantrelController::EnableServerControls(const ServerControlStates& states) {
    m_view.EnableServerControls(states);
}

} // namespace vantrel
