#pragma once

#include <string>

#include "platform/event.h"

namespace vantrel::platform {

// Watches one directory (not its subdirectories) for files being written: inotify with
// IN_MODIFY, IN_CLOSE_WRITE, IN_MOVED_TO and IN_CREATE on Linux, FindFirstChangeNotification
// for last writes and new names on Windows. The descriptor belongs to the thread
// that waits on it; another thread stops the wait through the event, never by closing it.
class DirWatch {
public:
    DirWatch() = default;
    ~DirWatch();
    DirWatch(const DirWatch&) = delete;
    DirWatch& operator=(const DirWatch&) = delete;

    // False when the directory cannot be watched (it does not exist, no permission).
    bool Open(const std::string& directory);
    void Close();

    enum class WaitResult {
        Changed,  // at least one write; queued events are drained (an overflow counts as a change)
        Stopped,  // the event was set
        Gone,     // the directory was deleted or moved away (IN_IGNORED, IN_DELETE_SELF, IN_MOVE_SELF)
        Failed    // not open, or the wait failed
    };
    // Waits without timeout for a change or the event. When both hold, Stopped wins.
    WaitResult Wait(const CEvent& stop);

private:
    int m_fd = -1;
    int m_wd = -1;
    std::string m_directory; // where the directory was when opened, to tell when it went
    bool m_gone = false; // the directory went: every later Wait answers Gone at once
};

} // namespace vantrel::platform
