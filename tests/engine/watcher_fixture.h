#pragma once
// The work-unit directory watcher's tests: a watcher over the engine fixture.
#include "engine_fixture.h"
#include "watchprobe.h"

#include <array>
#include <chrono>
#include <string>

namespace vantrel::test::watchertests {

using namespace std::chrono_literals;

// The client's files that an outside monitor reads.
constexpr std::array<const char*, 6> kSpyFiles = {"work_unit.orv",     "state.orv", "version.orv",
                                                  "result_header.orv", "pid.orv",   "lock.orv"};

class WatcherTest : public EngineTest {
protected:
    // WM_APP_4 messages that arrive within the time given.
    int MessagesWithin(std::chrono::milliseconds period) {
        int count = 0;
        for (auto deadline = std::chrono::steady_clock::now() + period; std::chrono::steady_clock::now() < deadline;)
            if (dialog.Take(10ms) == std::optional<unsigned>(WM_APP_4))
                ++count;
        return count;
    }
    bool MessageArrives() { return dialog.Take(10s) == std::optional<unsigned>(WM_APP_4); }
    void Drain() {
        while (dialog.Take(100ms)) {
        }
    }
    void MakeClientFiles(unsigned n) {
        MakeDirs(Inst(n));
        for (const char* name : kSpyFiles)
            WriteFile(InstFile(n, name), std::string(name) + " of " + std::to_string(n));
        WriteFile(InstFile(n, "outfile.orv"), "outfile of " + std::to_string(n));
    }

    CWatcher watcher{ctx};
};

} // namespace vantrel::test::watchertests
