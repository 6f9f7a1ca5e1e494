// What a process handle does the same way on every system, over the calls of its system's file.
#include "platform/process.h"

#include "platform/wait.h"

namespace vantrel::platform {

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
