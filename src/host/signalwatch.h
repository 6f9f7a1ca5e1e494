#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "platform/terminationwatch.h"

namespace vantrel {

// Turns a request from outside to end the program (SIGTERM, SIGINT, SIGHUP) into a call on the
// thread that made the watch, so a terminated program still ends its clients and threads cleanly.
// One at a time.
class CSignalWatch {
public:
    explicit CSignalWatch(std::function<void()> onSignal);
    ~CSignalWatch();
    CSignalWatch(const CSignalWatch&) = delete;
    CSignalWatch& operator=(const CSignalWatch&) = delete;

private:
    std::function<void()> m_onSignal;
    // Lives on the watch's thread; the platform's thread posts the call to it. Declared before the
    // platform watch, so the watch (and its thread) goes first.
    std::unique_ptr<QObject> m_receiver;
    std::unique_ptr<platform::CTerminationWatch> m_watch;
};

} // namespace vantrel
