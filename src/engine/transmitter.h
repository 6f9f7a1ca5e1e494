#pragma once

#include <chrono>
#include <cstdint>

#include "engine/enginecontext.h"

namespace vantrel {

// The dialog's side of a transmit pass. The pass thread calls these; an implementation on a
// toolkit marshals them to its own thread.
class ITransmitHost {
public:
    virtual ~ITransmitHost() = default;
    // The pass began (caption "Stop Transmit", system-menu "Transmit" greyed) or ended.
    virtual void TransmitStateChanged(bool running) = 0;
    // Arms the retry timer (kRetryTimerId) with the given period; the dialog runs
    // CTransmitter::OnTimer when it fires.
    virtual void ArmRetryTimer(std::chrono::milliseconds period) = 0;
    virtual void KillRetryTimer() = 0;
};

inline constexpr const char* kTransmitCaption = "Transmit";
inline constexpr const char* kStopTransmitCaption = "Stop Transmit";

// Transmit passes: send finished results and fill the cache, one pass at a time on a worker
// thread, started by the user, automatically, or by the retry timer.
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
    // always disarms the retry timer first.
    void CheckAutoTransmit(unsigned readyToTransmit, unsigned needToFill);
    // The dialog's timer fired: runs CheckAutoTransmit when id is the armed retry timer.
    void OnTimer(unsigned id, unsigned readyToTransmit, unsigned needToFill);
    unsigned RetryTimerId() const;

    // Exit: disarms the retry timer and ends a running pass cleanly without killing its client,
    // which runs on by itself; joins the pass thread. Idempotent.
    void Shutdown();
};

} // namespace vantrel
