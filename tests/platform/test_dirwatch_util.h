#pragma once

#include <chrono>
#include <thread>

#include "platform/dirwatch.h"

namespace vantrel::test {

using Result = platform::DirWatch::WaitResult;

// Waits with a stop event that another thread sets after a pause: Stopped means nothing woke the
// watch before.
inline Result WaitStoppingAfter(platform::DirWatch& watch, std::chrono::milliseconds pause) {
    platform::CEvent stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(pause);
        stop.Set();
    });
    Result result = watch.Wait(stop);
    stopper.join();
    return result;
}

} // namespace vantrel::test
