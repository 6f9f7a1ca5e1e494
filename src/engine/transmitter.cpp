#include "engine/transmitter.h"

#include "core/configuration.h"
#include "data/logmarker.h"
#include "engine/messagetarget.h"

#include <algorithm>
#include <ctime>

namespace vantrel {

CTransmitter::CTransmitter(CEngineContext& ctx, ITransmitHost& host) : m_ctx(ctx), m_host(host) {}

CTransmitter::~CTransmitter() {
    Shutdown();
}

bool CTransmitter::TransmitRunning() const {
    return m_bTransmitRunning.load();
}

const char* CTransmitter::TransmitCaption() const {
    return TransmitRunning() ? kStopTransmitCaption : kTransmitCaption;
}

unsigned CTransmitter::RetryTimerId() const {
    return m_RetryTimerId.load();
}

std::unique_lock<std::mutex> CTransmitter::HoldOffPasses() {
    return std::unique_lock(m_TransmitLock, std::try_to_lock);
}

PassRecord CTransmitter::LastPass() const {
    std::lock_guard lock(m_timerLock);
    return m_lastPass;
}

void CTransmitter::RecordPass(bool failed) {
    std::lock_guard lock(m_timerLock);
    m_lastPass.EndedAt = static_cast<std::int64_t>(std::time(nullptr));
    m_lastPass.Outcome = failed ? EPassOutcome::Failed : EPassOutcome::Succeeded;
}

void CTransmitter::TransmitToggle() {
    if (TransmitRunning()) {
        m_StopTransmitEvent.Set();
        return;
    }
    m_AutoTransmitRun.store(0);
    StartTransmit();
}

void CTransmitter::StartTransmit() {
    DisarmRetryTimer();
    if (TransmitRunning() || m_bShutDown)
        return;
    m_StopTransmitEvent.Reset();
    BuildClientOptions(m_ctx.options);
    JoinEndedPasses();

    // The pass gets its own copy of the switches now, on the dialog's thread, which owns them.
    auto pass = std::make_unique<CPassThread>();
    CPassThread& started = *pass;
    started.thread = std::thread([this, &started, optionArgs = m_ctx.options.ClientOptionArgs]() mutable {
        TransmitThread(std::move(optionArgs));
        started.ended.store(true);
    });
    m_passes.push_back(std::move(pass));
}

void CTransmitter::CheckAutoTransmit(unsigned readyToTransmit, unsigned needToFill) {
    bool waitingForRetry = false;
    {
        std::lock_guard lock(m_timerLock);
        waitingForRetry = m_bRetryAfterFailure && m_RetryTimerId.load() != 0;
    }
    if (waitingForRetry && !HasUnmetResult())
        return;
    DisarmRetryTimer();
    if (!m_ctx.options.AutoTransmit.load())
        return;
    m_host.TakeControlValues();
    if (readyToTransmit == 0 && needToFill == 0)
        return;
    m_AutoTransmitRun.store(1);
    StartTransmit();
}

void CTransmitter::OnTimer(unsigned id, unsigned readyToTransmit, unsigned needToFill) {
    if (id == 0 || id != m_RetryTimerId.load())
        return;
    // The retry is due: the wait after a failure is over.
    DisarmRetryTimer();
    CheckAutoTransmit(readyToTransmit, needToFill);
}

std::chrono::milliseconds CTransmitter::RetryDelay(unsigned failedPasses) const {
    std::chrono::milliseconds delay = std::min(m_ctx.timings.firstRetry, m_ctx.timings.retryInterval);
    for (unsigned k = 1; k < failedPasses && delay < m_ctx.timings.retryInterval; ++k)
        delay = std::min(delay * 2, m_ctx.timings.retryInterval);
    return delay;
}

void CTransmitter::OnPassEnded(unsigned readyToTransmit, unsigned needToFill) {
    if (HasUnmetResult())
        CheckAutoTransmit(readyToTransmit, needToFill);
}

void CTransmitter::Shutdown() {
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    m_ShutdownEvent.Set();
    for (auto& pass : m_passes)
        if (pass->thread.joinable())
            pass->thread.join();
    m_passes.clear();
    // Only now can no pass arm the timer again.
    DisarmRetryTimer();
}

void CTransmitter::ArmRetryTimer() {
    std::lock_guard lock(m_timerLock);
    if (m_RetryTimerId.load() != 0)
        return;
    // The id is stored first, so a host that checks it on its own thread sees the timer wanted.
    m_RetryTimerId.store(kRetryTimerId);
    m_host.ArmRetryTimer(m_ctx.timings.retryInterval);
}

void CTransmitter::ArmFailureRetry(std::optional<std::chrono::milliseconds> atMost) {
    std::lock_guard lock(m_timerLock);
    // Arming an armed timer starts it afresh with the new period.
    m_RetryTimerId.store(kRetryTimerId);
    m_bRetryAfterFailure = true;
    ++m_nFailedPasses;
    std::chrono::milliseconds delay = RetryDelay(m_nFailedPasses);
    if (atMost && *atMost < delay)
        delay = std::max(*atMost, std::chrono::milliseconds(1));
    m_host.ArmRetryTimer(delay);
}

void CTransmitter::ForgetFailures() {
    std::lock_guard lock(m_timerLock);
    m_nFailedPasses = 0;
}

void CTransmitter::DisarmRetryTimer() {
    std::lock_guard lock(m_timerLock);
    m_bRetryAfterFailure = false;
    // A timer that is no longer armed counts as stopped; the id is 0 either way.
    if (m_RetryTimerId.exchange(0) != 0)
        m_host.KillRetryTimer();
}

void CTransmitter::JoinEndedPasses() {
    for (auto it = m_passes.begin(); it != m_passes.end();) {
        if ((*it)->ended.load()) {
            (*it)->thread.join();
            it = m_passes.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace vantrel
