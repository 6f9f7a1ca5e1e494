#include "watchprobe.h"

#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

namespace vantrel::test::watchertests {

std::optional<int> CountOwnWatches() {
    // One inotify descriptor per watcher alive.
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec).string() == "anon_inode:inotify")
            ++count;
    }
    return count;
}

struct CWriteRecorder::Impl {
    int fd = -1;
};

CWriteRecorder::CWriteRecorder(const std::string& dir) : m_impl(std::make_unique<Impl>()) {
    m_impl->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(m_impl->fd, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
}

CWriteRecorder::~CWriteRecorder() {
    close(m_impl->fd);
}

std::vector<std::string> CWriteRecorder::Names() {
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[8192];
    ssize_t got;
    while ((got = read(m_impl->fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0)
                names.emplace_back(event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return names;
}

} // namespace vantrel::test::watchertests
