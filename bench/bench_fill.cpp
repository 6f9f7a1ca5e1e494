// How long the dialog's thread is held while the processing slots fill: 64 slots, a cache of
// 1,000 instances that all hold work units, real client processes. The dialog is this thread: it
// runs RestartEngine, then every call the engine asks for (ScheduleFill), each as one event of its
// loop, recounting the cache after each as the dialog does, until every slot is busy. The figure
// is the longest of those events: the longest the window cannot repaint or answer.
//
// The client is this very program: started with "-stop_after_process" it holds lock.orv and
// sleeps until it is killed.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_data_support.h"
#include "core/cachestore.h"
#include "core/runningslots.h"
#include "engine/enginecontext.h"
#include "engine/messagetarget.h"
#include "engine/processengine.h"
#include "engine/watcher.h"
#include "platform/process.h"
#include "platform/system.h"

namespace {

using namespace vantrel;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr unsigned kSlots = 64;
constexpr int kInstances = 1000;

int RunAsClient() {
    int lock = open("lock.orv", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0)
        flock(lock, LOCK_EX);
    for (;;)
        pause();
}

// The dialog: recounts the cache at every restart and, when it may, keeps the engine's requested
// call for its event loop instead of waiting.
class CBenchHost : public IEngineHost {
public:
    CBenchHost(const CCacheStore& store, const CRunningSlots& slots, bool callsBack)
        : m_store(store), m_slots(slots), m_bCallsBack(callsBack) {}
    void RefreshCounters() override { benchmark::DoNotOptimize(CountCacheState(m_store, m_slots)); }
    void ShowFields() override {}
    bool ScheduleFill(std::chrono::milliseconds delay) override {
        if (!m_bCallsBack)
            return false;
        due = Clock::now() + delay;
        return true;
    }
    std::optional<Clock::time_point> due;

private:
    const CCacheStore& m_store;
    const CRunningSlots& m_slots;
    bool m_bCallsBack;
};

// range(0): 1 when the dialog can be called back (the program), 0 when it cannot (the restart
// then waits for the spacing itself, as it did before).
void BM_LongestStallWhileSlotsFill(benchmark::State& state) {
    bench::BenchDir dir;
    bench::MakeWorkUnitCache(dir.Path(), kInstances);
    CRunningSlots slots;
    CCacheStore store(dir.Path(), "vantrel", slots);
    store.SetClientPath(platform::GetOwnExecutablePath());
    COptions options;
    options.ClientShowMode = platform::SW_HIDE;
    options.SetAffinity = true;
    slots.Resize(kSlots);
    CMessageQueue dialog;
    CEngineContext ctx{store, slots, options, Timings::FromEnvironment(), dialog};
    CBenchHost host(store, slots, state.range(0) == 1);
    CWatcher watcher{ctx};
    CProcessEngine engine{ctx, host, watcher};

    double longest = 0;
    int events = 0;
    const auto start = Clock::now();
    auto event = [&](auto&& handler) {
        const auto begin = Clock::now();
        handler();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        ++events;
    };
    for (auto _ : state) {
        event([&] { engine.RestartEngine(); });
        while (slots.CountBusy() < kSlots && Clock::now() - start < 120s) {
            if (host.due) {
                std::this_thread::sleep_until(*host.due); // the event loop, idle until the timer
                host.due.reset();
                event([&] { engine.ContinueFill(); });
            } else if (dialog.Take(100ms)) {
                event([&] { engine.RestartEngine(); });
            }
        }
    }
    const double filled = std::chrono::duration<double>(Clock::now() - start).count();
    state.counters["busy_slots"] = slots.CountBusy();
    engine.Shutdown();
    state.counters["longest_stall_ms"] = longest;
    state.counters["events"] = events;
    state.counters["fill_s"] = filled;
    state.counters["spacing_ms"] = static_cast<double>(ctx.timings.runnerSpacing.count());
}
BENCHMARK(BM_LongestStallWhileSlotsFill)
    ->ArgNames({"callback"})
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return vantrel::bench::RunBenchmarksOrClient(argc, argv, RunAsClient);
}
