// How long one progress update takes when the keys come first in a state file with a megabyte
// of further lines, and when they come last: the reader stops once both keys have been seen.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_data_support.h"
#include "core/cachestore.h"
#include "core/runningslots.h"
#include "data/progress.h"

namespace {

using namespace vantrel;
using bench::BenchDir;

std::string Filler() {
    std::string lines;
    for (int i = 0; lines.size() < (1u << 20); ++i)
        lines += "bs_chirp_rate_" + std::to_string(i) + "=0.123456789012345\n";
    return lines;
}

void RunUpdates(benchmark::State& state, bool keysFirst) {
    BenchDir dir;
    CRunningSlots slots;
    CCacheStore store(dir.Path(), "vantrel", slots);
    std::filesystem::create_directories(dir.Path() + "/1");
    std::string keys = "cpu=3600.5\nprog=0.25\n";
    std::ofstream(dir.Path() + "/1/state.orv", std::ios::binary) << (keysFirst ? keys + Filler() : Filler() + keys);

    CProgressMonitor monitor(store);
    for (auto _ : state) {
        ProgressFigures figures = monitor.UpdateProgress(1, false, 1700000000);
        benchmark::DoNotOptimize(figures);
    }
    if (monitor.UpdateProgress(1, false, 1700000000).TotalText != "04:00")
        state.SkipWithError("the state file was not read as expected");
}

void BM_UpdateProgressKeysFirst(benchmark::State& state) {
    RunUpdates(state, true);
}
void BM_UpdateProgressKeysLast(benchmark::State& state) {
    RunUpdates(state, false);
}

BENCHMARK(BM_UpdateProgressKeysFirst);
BENCHMARK(BM_UpdateProgressKeysLast);

} // namespace

int main(int argc, char** argv) {
    return vantrel::bench::RunBenchmarks(argc, argv);
}
