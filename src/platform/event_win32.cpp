#include "platform/detail_win32.h"

#include "platform/event.h"
#include "platform/wait.h"

// A manual-reset Win32 event; Handle() carries it, so WaitForAny waits on it with a process
// or a change notification.
namespace vantrel::platform {

CEvent::CEvent() : m_fd(detail::HandleToInt(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

CEvent::~CEvent() {
    if (m_fd >= 0)
        ::CloseHandle(detail::IntToHandle(m_fd));
}

void CEvent::Set() {
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0)
        ::SetEvent(detail::IntToHandle(m_fd));
}

void CEvent::Reset() {
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0)
        ::ResetEvent(detail::IntToHandle(m_fd));
}

bool CEvent::IsSet() const {
    return Wait(std::chrono::milliseconds(0));
}

bool CEvent::Wait(std::optional<std::chrono::milliseconds> timeout) const {
    if (m_fd < 0 || WaitForAny({Handle()}, timeout) != 0)
        return false;
    // Taken after seeing the event set, so the waiter sees all that the setter did before Set.
    std::lock_guard lock(m_mutex);
    return true;
}

} // namespace vantrel::platform
