// Restart latency and idle cost of the processing supervisor, with real client processes.
//
// The client is this very program: started with "-stop_after_process" it behaves as a tiny client
// (holds lock.orv, writes state.orv as it starts and as it ends, as a real client shows its
// progress, runs for the time in "../bench_client_run_ms.txt", makes its work unit the newest so
// the next run takes another one, and appends "start_us end_us" on the monotonic clock to
// "../bench_client_times.txt"). A client that never wrote its state would have ended without
// work, and its instance would rest for a hang check. restart_latency_shell.sh restarts the same client from a plain
// shell loop for comparison. Durations come from VANTREL_TIME_SCALE like in the real program.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
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

long long MonotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

int RunAsClient() {
    long long start = MonotonicMicros();
    int lock = open("lock.orv", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0)
        flock(lock, LOCK_EX);
    std::ofstream("state.orv") << "prog=0.000000\n";
    long runMs = 0;
    std::ifstream("../bench_client_run_ms.txt") >> runMs;
    if (runMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(runMs));
    std::ofstream("state.orv") << "prog=1.000000\n";
    // The newest work unit is taken last, so every instance of the cache comes round in turn.
    utimensat(AT_FDCWD, "work_unit.orv", nullptr, 0);
    long long end = MonotonicMicros();
    std::string line = std::to_string(start) + " " + std::to_string(end) + "\n";
    int times = open("../bench_client_times.txt", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (times >= 0) {
        ssize_t written = write(times, line.data(), line.size());
        (void)written;
        close(times);
    }
    return 0;
}

class CQuietHost : public IEngineHost {
public:
    void RefreshCounters() override {}
    void ShowFields() override {}
};

// A program directory of `count` instances, each with a work unit and the user's account data,
// the oldest work unit in instance 1.
void MakeCache(const std::string& programDir, int count, long runMs) {
    bench::MakeWorkUnitCache(programDir, count);
    std::ofstream(programDir + "/bench_client_run_ms.txt") << runMs << "\n";
}

// Gaps in milliseconds between one client's end and the next one's start.
std::vector<double> RestartGaps(const std::string& programDir) {
    std::ifstream in(programDir + "/bench_client_times.txt");
    std::vector<double> gaps;
    long long start = 0;
    long long end = 0;
    long long previousEnd = -1;
    while (in >> start >> end) {
        if (previousEnd >= 0)
            gaps.push_back(static_cast<double>(start - previousEnd) / 1000.0);
        previousEnd = end;
    }
    std::sort(gaps.begin(), gaps.end());
    return gaps;
}

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty())
        return 0.0;
    auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

struct CEngineUnderTest {
    CEngineUnderTest(const std::string& programDir, unsigned slotCount)
        : store(programDir, "vantrel", slots), ctx{store, slots, options, Timings::FromEnvironment(), dialog} {
        store.SetClientPath(platform::GetOwnExecutablePath());
        options.ClientShowMode = platform::SW_HIDE;
        // The watched client at normal priority: an idle one would end only when the machine
        // has nothing else to do, and the gap would measure the machine's other load.
        options.ClientPriority = CP_NORMAL;
        slots.Resize(slotCount);
    }
    CRunningSlots slots;
    CCacheStore store;
    COptions options;
    CMessageQueue dialog;
    CEngineContext ctx;
    CQuietHost host;
    CWatcher watcher{ctx};
    CProcessEngine engine{ctx, host, watcher};
};

// One slot, a cache of range(0) instances, clients that run range(1) ms. Each iteration is one
// cycle: the client ends, its runner posts WM_APP, this thread (the dialog) runs RestartEngine,
// whose runner picks the next work unit and starts its client.
void BM_RestartLatency(benchmark::State& state) {
    bench::BenchDir dir;
    MakeCache(dir.Path(), static_cast<int>(state.range(0)), static_cast<long>(state.range(1)));
    CEngineUnderTest run(dir.Path(), 1);
    run.engine.RestartEngine();
    for (auto _ : state) {
        if (!bench::TakeMessage(run.dialog, WM_APP, 60s)) {
            state.SkipWithError("no client ended within a minute");
            break;
        }
        run.engine.RestartEngine();
    }
    bench::TakeMessage(run.dialog, WM_APP, 60s); // the last client's record
    run.engine.Shutdown();
    std::vector<double> gaps = RestartGaps(dir.Path());
    state.counters["gap_median_ms"] = Percentile(gaps, 0.5);
    state.counters["gap_p90_ms"] = Percentile(gaps, 0.9);
    state.counters["gap_max_ms"] = gaps.empty() ? 0.0 : gaps.back();
    state.counters["spacing_ms"] = static_cast<double>(run.ctx.timings.runnerSpacing.count());
}
BENCHMARK(BM_RestartLatency)
    ->ArgNames({"cache", "client_ms"})
    ->Args({10, 0})
    ->Args({100, 0})
    ->Args({1000, 0})
    ->Args({10, 200})
    ->Args({100, 200})
    ->Args({1000, 200})
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond);

double OwnProcessorMillis() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage); // this process alone: children are counted apart
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Two clients process for a minute (scaled by VANTREL_TIME_SCALE) while this thread waits for the
// dialog's next message, as the dialog's event loop would: what the program itself uses meanwhile.
void BM_ProcessorTimeWhileProcessing(benchmark::State& state) {
    const double scale = static_cast<double>(Timings::FromEnvironment().hangCheck.count()) /
                         static_cast<double>(Timings{}.hangCheck.count());
    const auto window = std::chrono::milliseconds(static_cast<long long>(60'000 * scale));
    bench::BenchDir dir;
    MakeCache(dir.Path(), 4, static_cast<long>(window.count()) * 10);
    CEngineUnderTest run(dir.Path(), 2);
    run.engine.RestartEngine();
    double before = 0.0;
    double after = 0.0;
    int messages = 0;
    for (auto _ : state) {
        before = OwnProcessorMillis();
        auto deadline = std::chrono::steady_clock::now() + window;
        while (std::chrono::steady_clock::now() < deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (run.dialog.Take(std::max(left, 1ms)))
                ++messages;
        }
        after = OwnProcessorMillis();
        state.counters["clients_running"] = run.slots.CountBusy();
    }
    run.engine.Shutdown();
    state.counters["window_s"] = static_cast<double>(window.count()) / 1000.0;
    state.counters["own_cpu_ms"] = after - before;
    state.counters["messages"] = messages;
}
BENCHMARK(BM_ProcessorTimeWhileProcessing)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return vantrel::bench::RunBenchmarksOrClient(argc, argv, RunAsClient);
}
