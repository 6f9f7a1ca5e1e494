#include "host/signalwatch.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vantrel {

CSignalWatch::CSignalWatch(std::function<void()> onSignal) : m_onSignal(std::move(onSignal)) {
    if (::pipe2(m_fds.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    s_writeFd.store(m_fds[1]);
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { Drain(); });
    struct sigaction action {};
    action.sa_handler = &CSignalWatch::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &m_previous[i]);
    m_bInstalled = true;
}

CSignalWatch::~CSignalWatch() {
    if (m_bInstalled) {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    s_writeFd.store(-1);
    m_notifier.reset();
    for (int fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

void CSignalWatch::Handler(int) {
    const int saved = errno;
    const int fd = s_writeFd.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

void CSignalWatch::Drain() {
    char buffer[64];
    while (::read(m_fds[0], buffer, sizeof buffer) > 0) {
    }
    m_onSignal();
}

} // namespace vantrel
