// What a process handle does the same way on every system, over the calls of its system's file.
#include "platform/process.h"

#include "platform/wait.h"

#include <memory>
#include <utility>

namespace vantrel::platform {

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        // What we held is let go exactly as the destructor does; then other's is taken over.
        std::destroy_at(this);
        std::construct_at(this, std::move(other));
    }
    return *this;
}

ProcessHandle::WaitResult ProcessHandle::WaitForExitOrEvent(const CEvent& event) {
    if (m_pidfd < 0)
        return WaitResult::Failed;
    if (m_reaped)
        return WaitResult::Exited;
    // The process comes first: when both are ready, its end wins.
    switch (WaitForAny({ExitHandle(), event.Handle()})) {
    case 0:
        ReapIfEnded();
        return WaitResult::Exited;
    case 1:
        return WaitResult::EventSet;
    default:
        return WaitResult::Failed;
    }
}

} // namespace vantrel::platform
