#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/cachestore.h"
#include "core/options.h"
#include "core/runningslots.h"
#include "core/timings.h"
#include "engine/clientcontrol.h"
#include "engine/enginecontext.h"
#include "engine/messagetarget.h"
#include "engine/processengine.h"
#include "engine/watcher.h"
#include "platform/process.h"
#include "support/buildpaths.h"
#include "support/childprocess.h"
#include "support/tempdir.h"
#include "support/testdisplay.h"
#include "support/wait.h"

namespace vantrel::test {

// Durations short enough for tests; a test shrinks or stretches one where it matters.
inline Timings ShortTimings() {
    Timings t;
    t.hangCheck = std::chrono::milliseconds(300);
    t.transmitPause = std::chrono::milliseconds(300);
    t.retryInterval = std::chrono::milliseconds(1000);
    t.runnerSpacing = std::chrono::milliseconds(5);
    t.killPause = std::chrono::milliseconds(5);
    return t;
}

// The engine's events in the order they came, from any thread.
class CRecordedEvents final : public IEngineEvents {
public:
    using Event = std::pair<EEngineEvent, std::uint32_t>;

    void OnEngineEvent(EEngineEvent event, std::uint32_t instance) override {
        std::lock_guard lock(m_mutex);
        m_events.emplace_back(event, instance);
    }
    // The events so far, forgotten here.
    std::vector<Event> Take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_events, {});
    }

private:
    std::mutex m_mutex;
    std::vector<Event> m_events;
};

// A temp program directory with a store, a slot table, options (clients hidden), shrunk timings
// and a message queue standing in for the dialog, all joined in one engine context that reports its
// events to a recorder.
class EngineTest : public ::testing::Test {
protected:
    explicit EngineTest(Timings timings = ShortTimings());

    std::string Inst(std::uint32_t n) const { return store.GetInstancePath(n); }
    std::string InstFile(std::uint32_t n, const std::string& name) const { return Inst(n) + "/" + name; }

    // Instance directory n with the named files (content "x").
    void MakeInstance(std::uint32_t n, std::initializer_list<const char*> files = {});
    // Instance n holding a work unit stamped at the given time (seconds since the epoch) and the
    // user's account data.
    void MakeWorkUnit(std::uint32_t n, long long mtime);
    // What the test client does in instance n (lines of engine_client.txt).
    void ScriptClient(std::uint32_t n, const std::string& script);
    // The test client as the program's client.
    void UseTestClient();

    // Lines the test client appended in instance n at its starts, split at tabs.
    std::vector<std::vector<std::string>> ClientStarts(std::uint32_t n) const;
    // The instance directory names in the order their clients started.
    std::vector<std::string> ClientOrder() const;

    // Starts a client by hand under a title in a directory, as an earlier run or another program
    // would have.
    static platform::ProcessHandle StartTitled(const std::string& title, const std::string& directory);

    TempDir dir;
    CRunningSlots slots;
    CCacheStore store;
    COptions options;
    CMessageQueue dialog;
    CRecordedEvents events;
    CEngineContext ctx;
};

inline EngineTest::EngineTest(Timings timings)
    : store(dir.Path(), "vantrel", slots), ctx{store, slots, options, timings, dialog} {
    options.ClientShowMode = platform::SW_HIDE;
    ctx.events = &events;
}

inline void EngineTest::MakeInstance(std::uint32_t n, std::initializer_list<const char*> files) {
    MakeDirs(Inst(n));
    for (const char* name : files)
        WriteFile(InstFile(n, name), "x");
}

inline void EngineTest::MakeWorkUnit(std::uint32_t n, long long mtime) {
    MakeInstance(n, {"user_info.orv"});
    WriteFile(InstFile(n, "work_unit.orv"), "name=wu" + std::to_string(n) + "\n");
    SetMTime(InstFile(n, "work_unit.orv"), mtime);
}

inline void EngineTest::ScriptClient(std::uint32_t n, const std::string& script) {
    WriteFile(InstFile(n, "engine_client.txt"), script);
}

inline void EngineTest::UseTestClient() { store.SetClientPath(test::build::kEngineClient); }

inline std::vector<std::vector<std::string>> EngineTest::ClientStarts(std::uint32_t n) const {
    std::vector<std::vector<std::string>> starts;
    std::istringstream lines(ReadFile(InstFile(n, "client_starts.txt")));
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, '\t'))
            fields.push_back(field);
        starts.push_back(fields);
    }
    return starts;
}

inline std::vector<std::string> EngineTest::ClientOrder() const {
    std::vector<std::string> order;
    std::istringstream lines(ReadFile(dir / "client_order.txt"));
    std::string line;
    while (std::getline(lines, line))
        order.push_back(line);
    return order;
}

inline platform::ProcessHandle EngineTest::StartTitled(const std::string& title, const std::string& directory) {
    platform::ProcessStartInfo info;
    info.argv = {test::build::kEngineClient, "-stop_after_process"};
    info.workingDirectory = directory;
    info.consoleTitle = title;
    info.showCommand = platform::SW_HIDE;
    return platform::StartProcess(info);
}


// Counts what a restart asks of the dialog. With callsBack it keeps the fill's call for the
// test's loop (PumpUntil), as the program's dialog does, instead of letting the restart wait.
class CRecordingHost : public IEngineHost {
public:
    void RefreshCounters() override { ++refreshed; }
    void ShowFields() override { ++shown; }
    bool ScheduleFill(std::chrono::milliseconds delay) override {
        if (callsBack)
            due = std::chrono::steady_clock::now() + delay;
        return callsBack;
    }
    std::atomic<int> refreshed{0};
    std::atomic<int> shown{0};
    bool callsBack = false;
    std::optional<std::chrono::steady_clock::time_point> due;
};

// Short durations, but a hang check long enough that a client which never writes its state is
// left alone for the whole of a test that is not about hangs.
inline Timings NoHangTimings() {
    Timings t = ShortTimings();
    t.hangCheck = std::chrono::hours(1);
    return t;
}

// The engine fixture with a processing supervisor over it, the test's thread playing the dialog.
class ProcessEngineTest : public EngineTest {
protected:
    explicit ProcessEngineTest(Timings timings = NoHangTimings()) : EngineTest(timings) { UseTestClient(); }

    // Acts as the dialog for a while: every WM_APP restarts the engine. The number of WM_APP seen.
    int PumpMessages(std::chrono::milliseconds window) {
        int posted = 0;
        auto deadline = std::chrono::steady_clock::now() + window;
        for (auto now = std::chrono::steady_clock::now(); now < deadline; now = std::chrono::steady_clock::now()) {
            auto message = dialog.Take(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
            if (message == WM_APP) {
                ++posted;
                engine.RestartEngine();
            }
        }
        return posted;
    }

    // Acts as a dialog that calls back until done holds: each WM_APP restarts the engine, each
    // fill call that is due continues the fill. False when done never held.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (dialog.Take(std::chrono::milliseconds(2)) == WM_APP)
                engine.RestartEngine();
            if (host.due && std::chrono::steady_clock::now() >= *host.due) {
                host.due.reset();
                engine.ContinueFill();
            }
        }
        return true;
    }

    // The live processing clients of instance n.
    std::vector<platform::ProcessHandle> Clients(std::uint32_t n) { return OpenInstanceClient(ctx, n); }

    CRecordingHost host;
    CWatcher watcher{ctx};
    CProcessEngine engine{ctx, host, watcher};
};

} // namespace vantrel::test
