// What a transmit pass costs when no instance needs anything: only its look-ups, per instance.
// No client is started, so the figure is the walk itself (count, lock probe, classification).
#include "bench_data_support.h"
#include "core/cachestore.h"
#include "core/runningslots.h"
#include "engine/enginecontext.h"
#include "engine/messagetarget.h"
#include "engine/transmitter.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace vantrel;
using bench::BenchDir;

class CQuietHost : public ITransmitHost {
public:
    void TransmitStateChanged(bool) override {}
    void ArmRetryTimer(std::chrono::milliseconds) override {}
    void KillRetryTimer() override {}
};

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

// Instances that a pass passes over: work units waiting to be processed, or retired empty ones.
void MakeInstances(const std::string& programDir, int count, bool retired) {
    for (int n = 1; n <= count; ++n) {
        std::string instance = programDir + "/" + std::to_string(n);
        std::filesystem::create_directory(instance);
        Touch(instance + (retired ? "/stop_after_send.txt" : "/work_unit.orv"));
    }
}

void RunPasses(benchmark::State& state, bool retired) {
    const int count = static_cast<int>(state.range(0));
    BenchDir dir;
    MakeInstances(dir.Path(), count, retired);
    CRunningSlots slots;
    CCacheStore store(dir.Path(), "vantrel", slots);
    COptions options;
    CMessageQueue dialog;
    CEngineContext ctx{store, slots, options, Timings{}, dialog};
    CQuietHost host;
    CTransmitter transmitter(ctx, host);

    for (auto _ : state) {
        transmitter.TransmitToggle();
        while (dialog.Take(std::chrono::seconds(60)).value_or(WM_APP_1) != WM_APP_1) {
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["per_instance"] = benchmark::Counter(static_cast<double>(state.iterations() * count),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PassOverWorkUnits(benchmark::State& state) {
    RunPasses(state, false);
}
void BM_PassOverRetiredEmpties(benchmark::State& state) {
    RunPasses(state, true);
}

BENCHMARK(BM_PassOverWorkUnits)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PassOverRetiredEmpties)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return vantrel::bench::RunBenchmarks(argc, argv);
}
