#pragma once

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <csignal>
#include <functional>
#include <memory>

namespace vantrel {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the thread that made the watch (a byte through
// a pipe), so a terminated program still ends its clients and threads cleanly. One at a time.
class CSignalWatch {
public:
    explicit CSignalWatch(std::function<void()> onSignal);
    ~CSignalWatch();
    CSignalWatch(const CSignalWatch&) = delete;
    CSignalWatch& operator=(const CSignalWatch&) = delete;

private:
    static constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

    static void Handler(int);
    void Drain();

    static inline std::atomic<int> s_writeFd{-1};
    std::function<void()> m_onSignal;
    std::array<int, 2> m_fds{-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::array<struct sigaction, kSignals.size()> m_previous{};
    bool m_bInstalled = false;
};

} // namespace vantrel
