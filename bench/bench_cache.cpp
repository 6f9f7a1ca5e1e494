// What a walk of the cache costs per instance, for caches of 10 to 10,000 instances: counting,
// the dialog's derived counters, picking the next work unit, and a compaction that finds nothing
// to move. Nothing is kept in memory between calls, so each is a fresh series of look-ups.
#include <benchmark/benchmark.h>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "bench_cache_support.h"
#include "bench_data_support.h"
#include "core/cachestore.h"
#include "core/runningslots.h"

namespace {

using namespace vantrel;
using bench::BenchDir;

// The bench cache of MakeBenchCache, with four slots.
struct CCache {
    explicit CCache(int count) {
        bench::MakeBenchCache(dir.Path(), count);
        slots.Resize(4);
    }
    BenchDir dir;
    CRunningSlots slots;
    CCacheStore store{dir.Path(), "vantrel", slots};
};

// One cache per size for the whole program: building 10,000 instances takes longer than walking them.
CCache& CacheOf(const benchmark::State& state) {
    static std::map<std::int64_t, std::unique_ptr<CCache>> caches;
    std::unique_ptr<CCache>& cache = caches[state.range(0)];
    if (!cache)
        cache = std::make_unique<CCache>(static_cast<int>(state.range(0)));
    return *cache;
}

bool CountedWhole(const CCache& cache, const benchmark::State& state) {
    return static_cast<std::int64_t>(cache.store.CountInstances()) == state.range(0);
}

void PerInstance(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["per_instance"] = benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_CountInstances(benchmark::State& state) {
    CCache& cache = CacheOf(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(cache.store.CountInstances());
    if (!CountedWhole(cache, state))
        state.SkipWithError("the cache was not counted whole");
    PerInstance(state);
}

void BM_DerivedCounts(benchmark::State& state) {
    CCache& cache = CacheOf(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(CountCacheState(cache.store, cache.slots));
    PerInstance(state);
}

void BM_FindNextToProcess(benchmark::State& state) {
    CCache& cache = CacheOf(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(cache.store.FindNextToProcess());
    if (cache.store.FindNextToProcess() == 0)
        state.SkipWithError("no work unit found");
    PerInstance(state);
}

void BM_CompactInstances(benchmark::State& state) {
    CCache& cache = CacheOf(state);
    for (auto _ : state)
        cache.store.CompactInstances();
    if (!CountedWhole(cache, state))
        state.SkipWithError("the compaction changed a gap-free cache");
    PerInstance(state);
}

BENCHMARK(BM_CountInstances)->RangeMultiplier(10)->Range(10, 10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DerivedCounts)->RangeMultiplier(10)->Range(10, 10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindNextToProcess)->RangeMultiplier(10)->Range(10, 10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompactInstances)->RangeMultiplier(10)->Range(10, 10'000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return vantrel::bench::RunBenchmarks(argc, argv);
}
