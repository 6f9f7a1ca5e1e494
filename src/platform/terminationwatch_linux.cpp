#include "platform/terminationwatch.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "platform/event.h"
#include "platform/uniquefd_linux.h"
#include "platform/wait_linux.h"

namespace vantrel::platform {

namespace {
constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end for the handler; a handler may touch nothing but a lock-free atomic.
std::atomic<int> s_writeFd{-1};

void Handler(int) {
    const int saved = errno;
    const int fd = s_writeFd.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}
} // namespace

struct CTerminationWatch::Impl {
    std::function<void()> onRequest;
    UniqueFd readEnd;
    UniqueFd writeEnd;
    CEvent stop;
    std::array<struct sigaction, kSignals.size()> previous{};
    bool installed = false;
    std::thread thread;

    void Run() {
        for (;;) {
            int ready = WaitForAnyFd({FdOf(stop.Handle()), readEnd.Get()});
            if (ready != 1)
                return;
            char buffer[64];
            while (::read(readEnd.Get(), buffer, sizeof buffer) > 0) {
            }
            onRequest();
        }
    }
};

CTerminationWatch::CTerminationWatch(std::function<void()> onRequest) : m_impl(std::make_unique<Impl>()) {
    m_impl->onRequest = std::move(onRequest);
    std::array<int, 2> fds{-1, -1};
    if (::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_impl->readEnd.Reset(fds[0]);
    m_impl->writeEnd.Reset(fds[1]);
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->Run(); });
    s_writeFd.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = &Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &m_impl->previous[i]);
    m_impl->installed = true;
}

CTerminationWatch::~CTerminationWatch() {
    if (m_impl->installed) {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], &m_impl->previous[i], nullptr);
    }
    s_writeFd.store(-1);
    m_impl->stop.Set();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

bool CTerminationWatch::IsActive() const {
    return m_impl->installed;
}

} // namespace vantrel::platform
