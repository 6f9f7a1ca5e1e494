#pragma once

#include <functional>
#include <memory>

namespace vantrel::platform {

// While it lives, a request from outside to end the program (SIGTERM, SIGINT or SIGHUP on Linux)
// no longer ends it on the spot: onRequest is called instead, on a thread of the watch's own, so
// the program can still end its clients and threads cleanly. One watch at a time. Going restores
// what the requests did before and joins its thread; onRequest is never called after that.
class CTerminationWatch {
public:
    explicit CTerminationWatch(std::function<void()> onRequest);
    ~CTerminationWatch();
    CTerminationWatch(const CTerminationWatch&) = delete;
    CTerminationWatch& operator=(const CTerminationWatch&) = delete;

    // Whether the requests are being watched (false when the system refused).
    bool IsActive() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace vantrel::platform
