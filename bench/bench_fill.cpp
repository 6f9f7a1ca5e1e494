// How long the dialog's thread is held while the processing slots fill: 64 slots, a cache of
// 1,000 instances that all hold work units, real client processes. The dialog is this thread: it
// runs RestartEngine, then, as the events of its loop, every call the engine asks for
// (ScheduleFill) and every WM_APP the runners post (a restart, counting the cache where the dialog
// does: not for a runner's word that its client has started), until every slot is busy and nothing more comes. The figure is the longest of those
// events: the longest the window cannot repaint or answer, with the processor time this thread
// spent in it and the time it waited, runnable, for a processor the machine gave to others, and
// the median event. Then the exit with the slots busy: how long Shutdown takes to end them all.
//
// The client is this very program: started with "-stop_after_process" it holds lock.orv and
// sleeps until it is killed.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
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
#include <vector>

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

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// How long this thread has waited for a processor while runnable, from the scheduler's own
// account (0 where the kernel keeps none).
double RunQueueWaitMs() {
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    std::ifstream("/proc/thread-self/schedstat") >> running >> waiting;
    return static_cast<double>(waiting) / 1e6;
}

// The one-minute load average, for the conditions of the figure.
double LoadAverage() {
    double load = -1;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

int RunAsClient() {
    int lock = open("lock.orv", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0)
        flock(lock, LOCK_EX);
    for (;;)
        pause();
}

// The dialog: counts the cache at every restart but the one a client's start brings, which shows
// the last count, and, when it may, keeps the engine's requested call for its event loop instead
// of waiting.
class CBenchHost : public IEngineHost {
public:
    CBenchHost(const CCacheStore& store, const CRunningSlots& slots, bool callsBack)
        : m_store(store), m_slots(slots), m_bCallsBack(callsBack) {}
    void RefreshCounters() override {
        if (!showLastCount)
            m_tally = TallyCache(m_store);
        showLastCount = false;
        benchmark::DoNotOptimize(CountersOf(m_tally, m_slots));
    }
    void ShowFields() override {}
    bool ScheduleFill(std::chrono::milliseconds delay) override {
        if (!m_bCallsBack)
            return false;
        due = Clock::now() + delay;
        return true;
    }
    std::optional<Clock::time_point> due;
    bool showLastCount = false; // the restart comes from a client's start

private:
    CacheTally m_tally;
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

    struct Event {
        double ms;
        double cpuMs;
        double queuedMs; // runnable, waiting for a processor
    };
    std::vector<Event> events;
    const double loadBefore = LoadAverage();
    const auto start = Clock::now();
    std::optional<double> filled;
    auto event = [&](auto&& handler) {
        const double cpu = ThreadCpuMs();
        const double queued = RunQueueWaitMs();
        const auto begin = Clock::now();
        handler();
        events.push_back({std::chrono::duration<double, std::milli>(Clock::now() - begin).count(), ThreadCpuMs() - cpu,
                          RunQueueWaitMs() - queued});
    };
    for (auto _ : state) {
        event([&] { engine.RestartEngine(); });
        // The event loop: a posted message or the fill's timer, whichever comes first; it ends once
        // every slot is busy and a second passes without anything to do.
        while (Clock::now() - start < 120s) {
            if (!filled && slots.CountBusy() == kSlots)
                filled = std::chrono::duration<double>(Clock::now() - start).count();
            auto timeout = filled ? 1000ms : 100ms;
            if (host.due)
                timeout = std::max(0ms, std::chrono::ceil<std::chrono::milliseconds>(*host.due - Clock::now()));
            if (dialog.Take(timeout) == WM_APP) {
                host.showLastCount = ctx.TakeClientStarted();
                event([&] { engine.RestartEngine(); });
            } else if (host.due && Clock::now() >= *host.due) {
                host.due.reset();
                event([&] { engine.ContinueFill(); });
            } else if (filled && !host.due) {
                break;
            }
        }
    }
    const double loadAfter = LoadAverage();
    state.counters["busy_slots"] = slots.CountBusy();
    // The program's exit with every slot busy: each runner kills its client and what it started.
    const auto exitStart = Clock::now();
    engine.Shutdown();
    state.counters["exit_ms"] = std::chrono::duration<double, std::milli>(Clock::now() - exitStart).count();
    std::vector<Event> byLength = events;
    std::sort(byLength.begin(), byLength.end(), [](const Event& a, const Event& b) { return a.ms < b.ms; });
    const Event longest = byLength.empty() ? Event{} : byLength.back();
    const double median = byLength.empty() ? 0 : byLength[byLength.size() / 2].ms;
    state.counters["longest_stall_ms"] = longest.ms;
    state.counters["longest_cpu_ms"] = longest.cpuMs;
    state.counters["longest_queued_ms"] = longest.queuedMs;
    state.counters["median_ms"] = median;
    state.counters["events"] = static_cast<double>(events.size());
    state.counters["fill_s"] = filled.value_or(-1);
    state.counters["spacing_ms"] = static_cast<double>(ctx.timings.runnerSpacing.count());
    state.counters["load_before"] = loadBefore;
    state.counters["load_after"] = loadAfter;
    // On stderr: the CSV the figures are read from stays whole.
    std::fprintf(stderr,
                 "%s: longest event %.1f ms (%.1f ms of it on the processor, %.1f ms waiting for one), median %.1f ms, "
                 "%zu events, 64 slots busy after %.1f s, load average %.2f before, %.2f after\n",
                 state.range(0) == 1 ? "calls back" : "waits", longest.ms, longest.cpuMs, longest.queuedMs, median,
                 events.size(), filled.value_or(-1), loadBefore, loadAfter);
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
