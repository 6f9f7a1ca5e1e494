#pragma once

#include <cstdint>

namespace vantrel {

// Things that happen in the engine's threads and may need the user.
enum EEngineEvent : int {
    EV_TRANSMIT_SUCCEEDED,    // a transmit run sent its result or fetched a work unit
    EV_TRANSMIT_FAILED,       // a transmit run left its result or a broken-off download behind
    EV_CLIENT_RAN,            // a processing client worked (wrote its state or left a result)
    EV_CLIENT_ENDED_AT_ONCE,  // a processing client ended, or never started, without doing any work
    EV_LOG_WRITE_FAILED,      // a result's row could not be added to the log
    EV_CONFIG_WRITE_FAILED,   // the configuration file could not be written
    EV_INSTANCE_RESTARTED,    // the loop detector started an instance afresh
    EV_LOG_ROW_LOST,          // a result held back too long for its row was sent without it
};

// Receives the engine's events. Called on the thread where the event happened (runners, the
// transmit pass, the dialog's): an implementation must be thread-safe and must not wait for the
// dialog's thread.
class IEngineEvents {
public:
    virtual ~IEngineEvents() = default;
    // instance: the instance number the event belongs to, 0 when none.
    virtual void OnEngineEvent(EEngineEvent event, std::uint32_t instance) = 0;
};

} // namespace vantrel
