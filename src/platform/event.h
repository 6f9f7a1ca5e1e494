#pragma once

#include <chrono>
#include <mutex>
#include <optional>

#include "platform/wait.h"

namespace vantrel::platform {

// A manual-reset event (an eventfd on Linux): created non-signalled, Set() keeps it signalled
// until Reset(). Its handle can be waited for together with a process, so a thread can wait for
// "the child ended or we were told to stop" in one call. Thread-safe.
class CEvent {
public:
    CEvent();
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

    // Waits until the event is set; no timeout waits forever. True when it is set.
    bool Wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt) const;

    // Ready for WaitForAny exactly while the event is set.
    WaitHandle Handle() const { return {m_fd}; }

private:
    int m_fd = -1;
    // Set and Reset take it, so the counter never passes 1; a waiter takes it after seeing the
    // event set, so it also sees everything the setter did before Set.
    mutable std::mutex m_mutex;
};

} // namespace vantrel::platform
