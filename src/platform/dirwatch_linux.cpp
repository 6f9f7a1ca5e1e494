#include "platform/dirwatch.h"
#include "platform/uniquefd_linux.h"
#include "platform/wait_linux.h"

#include <cerrno>
#include <optional>
#include <sys/inotify.h>
#include <unistd.h>

namespace vantrel::platform {

namespace {

constexpr std::uint32_t kWatchMask =
    IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// After any of these the watch is dead or follows the directory somewhere else.
constexpr std::uint32_t kGoneMask = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

struct QueuedEvents {
    bool changed = false;
    bool gone = false;
    bool failed = false;
};

// Takes every queued event, so one burst of writes wakes the watcher once.
QueuedEvents DrainEvents(int fd) {
    QueuedEvents events;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            events.failed = got < 0 && errno != EAGAIN;
            return events;
        }
        for (ssize_t offset = 0; offset < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if ((event->mask & kGoneMask) != 0)
                events.gone = true;
            else
                events.changed = true; // IN_Q_OVERFLOW too: writes were lost, so assume one
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

} // namespace

DirWatch::~DirWatch() {
    Close();
}

bool DirWatch::Open(const std::string& directory) {
    Close();
    UniqueFd fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!fd.IsValid())
        return false;
    int wd = inotify_add_watch(fd.Get(), directory.c_str(), kWatchMask);
    if (wd < 0)
        return false;
    m_fd = fd.Release();
    m_wd = wd;
    return true;
}

void DirWatch::Close() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    m_wd = -1;
    m_gone = false;
}

DirWatch::WaitResult DirWatch::Wait(const CEvent& stop) {
    if (m_fd < 0)
        return WaitResult::Failed;
    // A dead watch is never polled again: it would never wake.
    if (m_gone)
        return stop.IsSet() ? WaitResult::Stopped : WaitResult::Gone;
    for (;;) {
        // The stop event comes first: when both are ready, Stopped wins.
        int ready = WaitForAnyFd({FdOf(stop.Handle()), m_fd});
        if (ready == 0)
            return WaitResult::Stopped;
        if (ready != 1)
            return WaitResult::Failed;
        QueuedEvents events = DrainEvents(m_fd);
        if (events.failed)
            return WaitResult::Failed;
        if (events.gone) {
            m_gone = true;
            return WaitResult::Gone;
        }
        if (events.changed)
            return WaitResult::Changed;
    }
}

} // namespace vantrel::platform
