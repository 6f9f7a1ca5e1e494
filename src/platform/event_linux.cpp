#include "platform/event.h"
#include "platform/wait_linux.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vantrel::platform {

namespace {

bool IsReadable(int fd, std::optional<std::chrono::milliseconds> timeout) {
    return fd >= 0 && WaitForAnyFd({fd}, timeout) == 0;
}

} // namespace

CEvent::CEvent() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CEvent::~CEvent() {
    if (m_fd >= 0)
        close(m_fd);
}

void CEvent::Set() {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0 || IsReadable(m_fd, std::chrono::milliseconds(0)))
        return;
    const std::uint64_t one = 1;
    while (write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void CEvent::Reset() {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return;
    // One read takes the whole counter; a non-blocking descriptor answers EAGAIN when it is clear.
    std::uint64_t value = 0;
    while (read(m_fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool CEvent::IsSet() const {
    return Wait(std::chrono::milliseconds(0));
}

bool CEvent::Wait(std::optional<std::chrono::milliseconds> timeout) const {
    if (!IsReadable(m_fd, timeout))
        return false;
    std::lock_guard lock(m_mutex);
    return true;
}

} // namespace vantrel::platform
