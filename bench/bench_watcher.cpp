// Processor time of the watcher thread: over a quiet stretch (a minute scaled down to a few
// seconds) it should be nothing at all, since the thread sleeps in the kernel until a write; and
// per wake-up while a client writes its state file.
#include "bench_data_support.h"
#include "core/cachestore.h"
#include "core/runningslots.h"
#include "engine/enginecontext.h"
#include "engine/messagetarget.h"
#include "engine/watcher.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace {

using namespace vantrel;
using bench::BenchDir;
using namespace std::chrono_literals;

std::set<std::string> Tasks() {
    std::set<std::string> tasks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        tasks.insert(entry.path().filename().string());
    return tasks;
}

// Nanoseconds the task has run on a processor (first field of its schedstat).
double TaskCpuNanoseconds(const std::string& tid) {
    std::ifstream in("/proc/self/task/" + tid + "/schedstat");
    double ns = 0;
    in >> ns;
    return ns;
}

struct CWatchedInstance {
    BenchDir dir;
    CRunningSlots slots;
    CCacheStore store{dir.Path(), "vantrel", slots};
    COptions options;
    CMessageQueue dialog;
    CEngineContext ctx{store, slots, options, Timings{}, dialog};
    CWatcher watcher{ctx};
    std::string tid;

    CWatchedInstance() {
        std::filesystem::create_directory(dir.Path() + "/1");
        ctx.WatchedInstance = 1;
        std::set<std::string> before = Tasks();
        watcher.StartWatcher();
        dialog.Take(10s); // its first message: the watch is open
        for (const std::string& task : Tasks())
            if (!before.contains(task))
                tid = task;
    }
    std::string StateFile() const { return dir.Path() + "/1/state.orv"; }
};

void BM_WatcherQuietStretch(benchmark::State& state) {
    CWatchedInstance watched;
    const auto stretch = std::chrono::milliseconds(state.range(0));
    double cpu = 0;
    for (auto _ : state) {
        double start = TaskCpuNanoseconds(watched.tid);
        std::this_thread::sleep_for(stretch);
        cpu += TaskCpuNanoseconds(watched.tid) - start;
    }
    state.counters["watcher_cpu_us"] = cpu / 1e3 / static_cast<double>(state.iterations());
    state.counters["messages"] = static_cast<double>(watched.dialog.Pending());
}

void BM_WatcherPerWrite(benchmark::State& state) {
    CWatchedInstance watched;
    double cpu = 0;
    int writes = 0;
    for (auto _ : state) {
        double start = TaskCpuNanoseconds(watched.tid);
        std::ofstream(watched.StateFile()) << "prog=0." << writes++ << "\n";
        watched.dialog.Take(10s);
        cpu += TaskCpuNanoseconds(watched.tid) - start;
        while (watched.dialog.Take(1ms)) {
        }
    }
    state.counters["watcher_cpu_us_per_write"] = cpu / 1e3 / static_cast<double>(state.iterations());
}

// A minute of quiet, scaled down to 3 seconds.
BENCHMARK(BM_WatcherQuietStretch)->Arg(3000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WatcherPerWrite)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return vantrel::bench::RunBenchmarks(argc, argv);
}
