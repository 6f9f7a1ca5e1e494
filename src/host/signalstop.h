#pragma once

#include "control/copychannel.h"
#include "host/signalwatch.h"

#include <functional>
#include <memory>

namespace vantrel {

// SIGTERM, SIGINT and SIGHUP as the program's stop requests.
class CSignalStop final : public IStopRequests {
public:
    void Watch(std::function<void()> onStop) override { m_watch = std::make_unique<CSignalWatch>(std::move(onStop)); }
    void StopWatching() override { m_watch.reset(); }

private:
    std::unique_ptr<CSignalWatch> m_watch;
};

} // namespace vantrel
