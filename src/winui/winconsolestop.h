#pragma once

#include "winui/win32.h"

#include "control/copychannel.h"
#include "control/scheduler.h"

#include <functional>

namespace vantrel {

// Ctrl+C, Ctrl+Break, the console's close, log-off and shut-down, for a copy started from a
// console. Each request ends the program on its own thread. The system ends the process as soon
// as the handler of a close returns, so that handler holds on until this object goes: by then the
// program has ended its clients as Exit does. One at a time.
class CConsoleStop final : public IStopRequests {
public:
    explicit CConsoleStop(IScheduler& scheduler);
    ~CConsoleStop() override;
    CConsoleStop(const CConsoleStop&) = delete;
    CConsoleStop& operator=(const CConsoleStop&) = delete;

    void Watch(std::function<void()> onStop) override;
    void StopWatching() override;

private:
    static BOOL WINAPI Handler(DWORD event);
    IScheduler& m_scheduler;
    std::function<void()> m_onStop; // under the handler's lock
    bool m_bInstalled = false;
};

} // namespace vantrel
