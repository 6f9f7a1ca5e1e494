#include "engine/watcher.h"

#include "core/clientcontract.h"
#include "engine/messagetarget.h"
#include "platform/dirwatch.h"

#include <array>
#include <string>

namespace vantrel {

namespace {

// What an outside monitor expects beside the program, copied when a watcher is (re)started.
constexpr std::array<const char*, 6> kSpyFiles = {contract::kWorkUnitFile, contract::kStateFile,
                                                  contract::kVersionFile,  contract::kResultHeaderFile,
                                                  contract::kPidFile,      contract::kLockFile};
// The files a running client rewrites, copied at every change.
constexpr std::array<const char*, 2> kChangedFiles = {contract::kStateFile, contract::kOutFile};

template <std::size_t N>
void CopyUp(const CCacheStore& store, std::uint32_t n, const std::array<const char*, N>& names) {
    // Instance 0 is the program directory: source and target would be the same file.
    if (n == 0)
        return;
    for (const char* name : names)
        store.CopyToProgramDir(n, name);
}

} // namespace

CWatcher::CWatcher(CEngineContext& ctx) : m_ctx(ctx) {}

CWatcher::~CWatcher() {
    StopForGood();
}

void CWatcher::SetWatchedInstanceChooser(std::function<std::uint32_t()> chooser) {
    std::lock_guard lock(m_lock);
    m_chooseWatchedInstance = std::move(chooser);
}

void CWatcher::StartWatcher() {
    std::lock_guard lock(m_lock);
    EndCurrentRun();
    if (m_bStoppedForGood)
        return;
    m_current = std::make_unique<CWatcherRun>();
    CWatcherRun& run = *m_current;
    run.chooseWatchedInstance = m_chooseWatchedInstance;
    run.thread = std::thread([this, &run] { WatcherThread(run); });
}

void CWatcher::PulseStop() {
    std::lock_guard lock(m_lock);
    EndCurrentRun();
}

void CWatcher::StopForGood() {
    std::lock_guard lock(m_lock);
    m_bStoppedForGood = true;
    EndCurrentRun();
}

bool CWatcher::IsRunning() const {
    std::lock_guard lock(m_lock);
    return m_current && !m_current->ended.load();
}

void CWatcher::EndCurrentRun() {
    if (!m_current)
        return;
    // The run's own event stays set, so the stop holds whatever the thread is doing; a later run
    // gets a fresh event and never sees it.
    m_current->stop.Set();
    if (m_current->thread.joinable())
        m_current->thread.join();
    m_current.reset();
}

std::uint32_t CWatcher::TakeWatchedInstance(const CWatcherRun& run) {
    std::uint32_t n = m_ctx.WatchedInstance.load();
    if (n != 0 || !run.chooseWatchedInstance)
        return n;
    std::uint32_t chosen = run.chooseWatchedInstance();
    // The dialog may have chosen meanwhile; its choice stands.
    if (m_ctx.WatchedInstance.compare_exchange_strong(n, chosen))
        return chosen;
    return n;
}

void CWatcher::WatcherThread(CWatcherRun& run) {
    std::string path = m_ctx.store.GetInstancePath(TakeWatchedInstance(run));
    platform::DirWatch watch;
    bool watching = watch.Open(path);
    // The dialog refreshes at once, without waiting for the first change.
    m_ctx.dialog.Post(WM_APP_4);
    // A directory that cannot be watched, or one that goes away, ends the watcher: it never spins.
    while (watching && watch.Wait(run.stop) == platform::DirWatch::WaitResult::Changed) {
        if (run.stop.IsSet())
            break;
        m_ctx.dialog.Post(WM_APP_4);
    }
    run.ended.store(true);
}

void CWatcher::CopySpyFiles(std::uint32_t n) const {
    CopyUp(m_ctx.store, n, kSpyFiles);
}

void CWatcher::CopyChangedFiles(std::uint32_t n) const {
    CopyUp(m_ctx.store, n, kChangedFiles);
}

bool CWatcher::OnMonitorProgressClicked() {
    bool useSpy = m_ctx.options.UseSpy.load();
    if (m_ctx.options.MonitorProgress.load()) {
        // With the spy copies on, a watcher already runs and only the figures are missing.
        if (useSpy)
            return true;
        StartWatcher();
    } else if (!useSpy) {
        PulseStop();
    }
    return false;
}

void CWatcher::OnUseSpyClicked() {
    bool monitorProgress = m_ctx.options.MonitorProgress.load();
    if (m_ctx.options.UseSpy.load()) {
        if (!monitorProgress)
            StartWatcher();
        CopySpyFiles(m_ctx.WatchedInstance.load());
    } else if (!monitorProgress) {
        PulseStop();
    }
}

void CWatcher::OnWatcherMessage(const std::function<void()>& updateProgress) const {
    if (m_ctx.options.MonitorProgress.load() && updateProgress)
        updateProgress();
    if (m_ctx.options.UseSpy.load())
        CopyChangedFiles(m_ctx.WatchedInstance.load());
}

} // namespace vantrel
