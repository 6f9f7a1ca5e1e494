#pragma once

#include "engine/enginecontext.h"
#include "platform/event.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel {

// The dialog's side of a transmit pass. The pass thread calls these; an implementation on a
// toolkit marshals them to its own thread. None of them may wait for the dialog's thread: the
// dialog's thread may be inside a CTransmitter call at that moment.
class ITransmitHost {
public:
    virtual ~ITransmitHost() = default;
    // The pass began (caption "Stop Transmit", system-menu "Transmit" greyed) or ended.
    virtual void TransmitStateChanged(bool running) = 0;
    // Arms the retry timer (kRetryTimerId) with the given period, afresh when it is armed; the
    // dialog runs CTransmitter::OnTimer when it fires.
    virtual void ArmRetryTimer(std::chrono::milliseconds period) = 0;
    virtual void KillRetryTimer() = 0;
    // Dialog's thread, inside CheckAutoTransmit: copy what the controls show into the options, so
    // an automatic pass uses the dialog's values, not the last ones applied or saved.
    virtual void TakeControlValues() {}
};

// How the last pass that walked the whole cache ended.
enum class EPassOutcome { None, Succeeded, Failed };

struct PassRecord {
    std::int64_t EndedAt = 0; // seconds since the epoch; 0 before the first pass ended
    EPassOutcome Outcome = EPassOutcome::None;
};

inline constexpr const char* kTransmitCaption = "Transmit";
inline constexpr const char* kStopTransmitCaption = "Stop Transmit";

// Transmit passes: send finished results and fill the cache, one pass at a time on a worker
// thread, started by the user, automatically, or by the retry timer. The public operations
// belong to the dialog's thread.
class CTransmitter {
public:
    CTransmitter(CEngineContext& ctx, ITransmitHost& host);
    ~CTransmitter(); // Shutdown()
    CTransmitter(const CTransmitter&) = delete;
    CTransmitter& operator=(const CTransmitter&) = delete;

    bool TransmitRunning() const;
    const char* TransmitCaption() const; // kStopTransmitCaption while a pass runs

    // The Transmit button and menu items: stop the running pass, or start one by the user.
    void TransmitToggle();
    void StartTransmit();
    // Starts an automatic pass when Auto Transmit is on and anything waits to be sent or filled;
    // disarms the retry timer first. After a failed pass the retry timer alone starts the next
    // one: until it fires, only a result that no pass has met yet starts a pass here, so an
    // outage costs one pass per retry, not one per message.
    void CheckAutoTransmit(unsigned readyToTransmit, unsigned needToFill);
    // The dialog's timer fired: runs CheckAutoTransmit when id is the armed retry timer.
    void OnTimer(unsigned id, unsigned readyToTransmit, unsigned needToFill);
    // The period the retry timer gets after the given number of failed passes in a row (1 for the
    // first): firstRetry, doubling, at most retryInterval.
    std::chrono::milliseconds RetryDelay(unsigned failedPasses) const;
    unsigned RetryTimerId() const;
    // The last pass that walked the whole cache (one cut short by exit is not counted).
    PassRecord LastPass() const;
    // For the dialog's thread while it renumbers, adds or retires instances: owns the pass lock
    // when no pass holds it, and a pass started meanwhile waits until the hold ends. Empty while
    // a pass holds the cache. A pass that walked during a renumbering could meet one result
    // under its old number and again under its new one, and log it twice.
    std::unique_lock<std::mutex> HoldOffPasses();

    // The dialog's WM_APP_1 handler, after its recount: a result that finished while the pass ran
    // was never met by it, and no later message may come to send it (a finished cache posts
    // nothing more). Such a result gets the automatic check the pass's own messages could not
    // give it. Results the pass did meet, or skipped because a client holds them, are left to the
    // retry timer, so a transmit that keeps failing is not retried in a loop.
    void OnPassEnded(unsigned readyToTransmit, unsigned needToFill);

    // Whether the last row the log was to take could not be written (any thread).
    bool LogUnwritable() const { return m_bLogUnwritable.load(); }
    // Results sent without their rows since the start, after the log refused them too long.
    unsigned LogRowsLost() const { return m_nLogRowsLost.load(); }

    // Exit: disarms the retry timer and ends a running pass cleanly without killing its client,
    // which runs on by itself; joins the pass thread. Idempotent.
    void Shutdown();

private:
    // What one pass keeps from its start to its end.
    struct CPassState {
        std::vector<std::string> optionArgs; // the server switches, copied when the pass was started
        bool displayTransmit = false;        // read once at the start
        std::uint16_t showCommand = 0;       // for the next client console
        bool failed = false;                 // some transmit of this pass failed
        std::int32_t best = 0;               // the highest result count seen so far
        std::uint32_t bestInstance = 0;      // the instance that holds it (0: the program directory)
        // The soonest a result held back for its row may be sent without it.
        std::optional<std::chrono::milliseconds> holdEndsIn;
    };

    enum class ERunEnd {
        Ended,       // the client ended by itself, was stopped, or could not be started
        ShuttingDown // the program is exiting; the client, if any, runs on
    };

    struct CPassThread {
        std::thread thread;
        std::atomic<bool> ended{false};
    };

    // The pass itself, on its own thread.
    void TransmitThread(std::vector<std::string> optionArgs);
    void WalkInstances(CPassState& pass);
    // One instance of the walk; false when the program is exiting and the walk must end.
    bool TransmitInstance(CPassState& pass, std::uint32_t i);
    // Whether instance i is to be run, after the work its state asks for before the run.
    bool PrepareInstance(CPassState& pass, std::uint32_t i, bool& hadResult);
    // Hands a result to the log once; false when its row is wanted, could not be written, and the
    // result is held back for it (at most timings.logHold, then it goes without its row).
    bool LogResult(CPassState& pass, std::uint32_t i);
    void MarkFailed(CPassState& pass, std::uint32_t i);
    // A result that no pass has met: not logged, never failed to send, and not held by a client.
    bool HasUnmetResult() const;
    void MoveStopAfterSendMarker(std::uint32_t i);
    void CheckAfterRun(CPassState& pass, std::uint32_t i, bool hadResult);
    void RemoveOldClientCopy(std::uint32_t i);
    ERunEnd RunTransmitClient(std::uint32_t n, const std::vector<std::string>& optionArgs, std::uint16_t show);

    void ArmRetryTimer();
    // Arms the retry timer for the next pass after a failed one, replacing an armed timer; no later
    // than atMost when given.
    void ArmFailureRetry(std::optional<std::chrono::milliseconds> atMost = std::nullopt);
    // A pass without a failure: the next failure waits firstRetry again.
    void ForgetFailures();
    void DisarmRetryTimer();
    void RecordPass(bool failed);
    void JoinEndedPasses();

    CEngineContext& m_ctx;
    ITransmitHost& m_host;

    std::mutex m_TransmitLock;            // held by a pass from start to end
    platform::CEvent m_StopTransmitEvent; // the user asked the running pass to stop
    platform::CEvent m_ShutdownEvent;     // exit: the pass ends without killing its client
    std::atomic<unsigned> m_AutoTransmitRun{0};
    std::atomic<unsigned> m_RetryTimerId{0};
    std::atomic<bool> m_bTransmitRunning{false};
    std::atomic<bool> m_bLogUnwritable{false};
    std::atomic<unsigned> m_nLogRowsLost{0};
    mutable std::mutex m_timerLock; // keeps the host's arm and kill calls in the order of m_RetryTimerId's changes
    // Under m_timerLock: the armed timer is the retry after a failed pass; failed passes in a row.
    bool m_bRetryAfterFailure = false;
    unsigned m_nFailedPasses = 0;
    PassRecord m_lastPass; // under m_timerLock

    std::list<std::unique_ptr<CPassThread>> m_passes; // dialog's thread only
    bool m_bShutDown = false;
};

} // namespace vantrel
