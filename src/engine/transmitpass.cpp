// The transmit pass: walks the instances from the highest number down and runs the client once in
// every one that has something to send or needs a work unit.
#include "core/clientcontract.h"
#include "data/logmarker.h"
#include "data/resultrecord.h"
#include "engine/clientcontrol.h"
#include "engine/messagetarget.h"
#include "engine/transmitter.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/wait.h"

#include <algorithm>
#include <ctime>
#include <mutex>
#include <string>

namespace vantrel {

namespace fs = platform;

namespace {

std::string LoopDetectorPath(const CCacheStore& store, std::uint32_t n) {
    return fs::JoinPath(store.GetInstancePath(n), contract::kLoopDetectorFile);
}

// "%s - Transmit" around the processing title, so the processing operations never find it.
std::string TransmitTitle(std::uint32_t n) {
    std::string title = contract::kTransmitTitleFormat;
    title.replace(title.find("%s"), 2, FormatClientTitle(n));
    return title;
}

} // namespace

void CTransmitter::TransmitThread(std::vector<std::string> optionArgs) {
    CPassState pass;
    pass.optionArgs = std::move(optionArgs);
    pass.displayTransmit = m_ctx.options.DisplayTransmit.load();
    pass.best = m_ctx.store.ReadResultCount(0);
    if (m_AutoTransmitRun.load() == 1) {
        platform::LowerCurrentThreadPriority();
        pass.showCommand = pass.displayTransmit ? platform::SW_SHOWNORMAL : m_ctx.options.ClientShowMode.load();
    } else {
        pass.showCommand = platform::SW_SHOWNORMAL;
    }

    std::unique_lock lock(m_TransmitLock);
    // Exit came while this pass waited for the one before it.
    if (m_ShutdownEvent.IsSet())
        return;
    m_bTransmitRunning.store(true);
    m_host.TransmitStateChanged(true);
    m_ctx.dialog.Post(WM_APP);

    WalkInstances(pass);
    m_bTransmitRunning.store(false);
    // At exit the dialog is going: nothing more is posted or shown.
    if (m_ShutdownEvent.IsSet())
        return;
    m_host.TransmitStateChanged(false);
    lock.unlock();
    m_ctx.dialog.Post(WM_APP_1);
}

void CTransmitter::WalkInstances(CPassState& pass) {
    unsigned count = m_ctx.store.CountInstances();
    if (count == 0) {
        RecordPass(false);
        ForgetFailures();
        return;
    }
    bool walked = true;
    for (std::uint32_t i = count; i >= 1 && walked; --i)
        walked = TransmitInstance(pass, i);
    // The newest account file ends up beside the program, even when a lower count was copied later
    // in the walk, or the walk was cut short by exit.
    if (pass.bestInstance != 0)
        m_ctx.store.CopyToProgramDir(pass.bestInstance, contract::kUserInfoFile);
    // At exit the timer is disarmed by Shutdown itself. A result not sent or a fill that fetched
    // nothing is retried by the timer alone, so an outage ends by itself without a pass per message.
    if (!walked)
        return;
    RecordPass(pass.failed);
    if (pass.failed)
        ArmFailureRetry(pass.holdEndsIn);
    else
        ForgetFailures();
}

bool CTransmitter::TransmitInstance(CPassState& pass, std::uint32_t i) {
    if (m_ShutdownEvent.IsSet())
        return false;
    // A processing client runs there.
    if (m_ctx.store.IsInstanceLocked(i))
        return true;
    bool hadResult = false;
    if (!PrepareInstance(pass, i, hadResult))
        return true;
    MoveStopAfterSendMarker(i);
    if (RunTransmitClient(i, pass.optionArgs, pass.showCommand) == ERunEnd::ShuttingDown)
        return false;
    CheckAfterRun(pass, i, hadResult);
    if (m_AutoTransmitRun.load() == 0 && !pass.displayTransmit)
        pass.showCommand = platform::SW_SHOWMINNOACTIVE;
    return true;
}

bool CTransmitter::PrepareInstance(CPassState& pass, std::uint32_t i, bool& hadResult) {
    CCacheStore& store = m_ctx.store;
    switch (store.GetInstanceState(i)) {
    case IS_RESULT:
        ArmRetryTimer();
        hadResult = true;
        return LogResult(pass, i);
    case IS_PARTIAL:
        // The download broke off last time too: start the instance afresh, keeping its marker.
        if (fs::PathExists(LoopDetectorPath(store, i))) {
            // One step for every count of the cache: a count taken in between would see the
            // instance gone or unmarked, and the desired size taken from it would change.
            auto hold = store.LockInstances();
            bool marked = store.HasStopAfterSend(i);
            store.DeleteInstance(i);
            store.CreateInstance(i);
            if (marked)
                store.SetStopAfterSend(i, true);
            m_ctx.Report(EV_INSTANCE_RESTARTED, i);
        }
        return true;
    case IS_EMPTY:
        // A retired instance is not refilled.
        return !store.HasStopAfterSend(i);
    case IS_WORK_UNIT:
    case IS_MISSING:
        break;
    }
    return false;
}

bool CTransmitter::LogResult(CPassState& pass, std::uint32_t i) {
    CCacheStore& store = m_ctx.store;
    // The result is handed to the log once, before its first transmit; the marker is set even
    // when logging is off, so a result met then is never logged later.
    if (HasLogMarker(store, i))
        return true;
    ResultRecord record(store, m_ctx.options.LogEnabled);
    const bool wanted = record.LogThisRecord;
    record.GatherResult(i);
    if (record.WriteRow()) {
        m_bLogUnwritable.store(false);
    } else if (wanted) {
        m_bLogUnwritable.store(true);
        // Once sent, nothing would log the result any more: it waits for its row while the log may
        // come back, but not so long that the server gives up on the work.
        const std::chrono::milliseconds held = HoldForLogRow(store, i, std::time(nullptr));
        if (held < m_ctx.timings.logHold) {
            m_ctx.Report(EV_LOG_WRITE_FAILED, i);
            MarkFailed(pass, i);
            const std::chrono::milliseconds left = m_ctx.timings.logHold - held;
            pass.holdEndsIn = std::min(pass.holdEndsIn.value_or(left), left);
            return false;
        }
        m_nLogRowsLost.fetch_add(1);
        m_ctx.Report(EV_LOG_ROW_LOST, i);
    }
    SetLogMarker(store, i, true);
    EndLogHold(store, i);
    return true;
}

void CTransmitter::MarkFailed(CPassState& pass, std::uint32_t i) {
    pass.failed = true;
    m_ctx.store.SetInstanceFile(i, contract::kLoopDetectorFile, true);
}

bool CTransmitter::HasUnmetResult() const {
    const CCacheStore& store = m_ctx.store;
    const unsigned count = store.CountInstances();
    for (std::uint32_t n = 1; n <= count; ++n) {
        if (store.GetInstanceState(n) == IS_RESULT && !HasLogMarker(store, n) &&
            !fs::PathExists(LoopDetectorPath(store, n)) && !store.IsInstanceLocked(n))
            return true;
    }
    return false;
}

void CTransmitter::MoveStopAfterSendMarker(std::uint32_t i) {
    CCacheStore& store = m_ctx.store;
    // Moved as one step: a count between the two changes would see one marker too few.
    auto hold = store.LockInstances();
    if (store.HasStopAfterSend(i))
        return;
    // The instance being sent is emptied in place of a higher one that still holds work, which then
    // keeps its work and is refilled later: the number of markers stays the same.
    for (std::uint32_t k = store.CountInstances(); k > i; --k) {
        if (store.HasStopAfterSend(k) && store.GetInstanceState(k) != IS_EMPTY) {
            store.SetStopAfterSend(k, false);
            store.SetStopAfterSend(i, true);
            return;
        }
    }
}

void CTransmitter::CheckAfterRun(CPassState& pass, std::uint32_t i, bool hadResult) {
    CCacheStore& store = m_ctx.store;
    const InstanceState state = store.GetInstanceState(i);
    switch (state) {
    case IS_WORK_UNIT:
    case IS_EMPTY: {
        RemoveOldClientCopy(i);
        store.SetInstanceFile(i, contract::kLoopDetectorFile, false);
        if (hadResult)
            store.CopyToProgramDir(i, contract::kUserInfoFile);
        std::int32_t count = store.ReadResultCount(i);
        if (count > pass.best) {
            pass.best = count;
            pass.bestInstance = i;
        }
        SetLogMarker(store, i, false);
        EndLogHold(store, i);
        // Left empty without being retired, the fill fetched nothing (offline, or the server has
        // no work): its result, if any, is sent and tidied, but the pass has failed.
        if (state == IS_EMPTY && !store.HasStopAfterSend(i)) {
            m_ctx.Report(EV_TRANSMIT_FAILED, i);
            MarkFailed(pass, i);
            break;
        }
        m_ctx.Report(EV_TRANSMIT_SUCCEEDED, i);
        // Only now, with the instance tidied, may the dialog start processing its new work unit:
        // a runner must not pick up the old client copy that is being removed.
        m_ctx.dialog.Post(WM_APP);
        break;
    }
    case IS_RESULT:
    case IS_PARTIAL:
        m_ctx.Report(EV_TRANSMIT_FAILED, i);
        MarkFailed(pass, i);
        break;
    case IS_MISSING:
        break;
    }
}

void CTransmitter::RemoveOldClientCopy(std::uint32_t i) {
    // Only the instance's own old-client copy goes: never the main client, even one that the user
    // chose from inside an instance directory (or from another instance whose number begins the
    // same, as "1" begins "10").
    CCacheStore& store = m_ctx.store;
    std::string copy = fs::JoinPath(store.GetInstancePath(i), contract::kOldClientFile);
    if (store.GetClientForInstance(i) == copy && !fs::IsSameFile(copy, store.GetClientPath()))
        store.SetInstanceFile(i, contract::kOldClientFile, false);
}

CTransmitter::ERunEnd CTransmitter::RunTransmitClient(std::uint32_t n, const std::vector<std::string>& optionArgs,
                                                      std::uint16_t show) {
    CCacheStore& store = m_ctx.store;
    platform::ProcessStartInfo info;
    info.argv = {store.GetClientForInstance(n), contract::kStopAfterXfer};
    info.argv.insert(info.argv.end(), optionArgs.begin(), optionArgs.end());
    // Without any account file the client asks the user, so its console must be seen.
    info.showCommand = store.SupplyUserInfo(n) ? show : platform::SW_SHOWNORMAL;
    info.consoleTitle = TransmitTitle(n);
    info.workingDirectory = store.GetInstancePath(n);
    platform::ProcessHandle client = platform::StartProcess(info);

    // The pause holds even for a client that could not start, so a broken client is not retried
    // in a tight loop. Exit ends it at once.
    if (m_ShutdownEvent.Wait(m_ctx.timings.transmitPause))
        return ERunEnd::ShuttingDown;
    if (!client.IsValid())
        return ERunEnd::Ended;
    if (m_ctx.options.ClientPriority.load() == CP_HIGH)
        platform::SetPriorityClass(client, platform::HIGH_PRIORITY_CLASS);

    // The client's end wins over both requests; exit wins over a stop, so the client is left to run.
    int ready = platform::WaitForAny({client.ExitHandle(), m_ShutdownEvent.Handle(), m_StopTransmitEvent.Handle()});
    if (ready == 1)
        return ERunEnd::ShuttingDown;
    if (ready == 2) {
        client.Terminate();
        // Judge the instance only once the client has let go of its files.
        client.WaitForExit();
    }
    return ERunEnd::Ended;
}

} // namespace vantrel
