// How long reading the result log for the statistics takes: a year of results in 10,000 and in
// 100,000 rows, every column filled, from a log the page cache holds (wall-clock time).
#include <benchmark/benchmark.h>
#include <fstream>
#include <string>

#include "bench_data_support.h"
#include "data/logstatistics.h"
#include "support/samplelog.h"

namespace {

using namespace vantrel;

void BM_ReadLogStatistics(benchmark::State& state) {
    bench::BenchDir dir;
    const std::string path = dir.Path() + "/ORVALog.csv";
    test::SampleLogShape shape;
    shape.rows = static_cast<std::uint32_t>(state.range(0));
    const std::string text = test::SampleLogText(shape);
    {
        std::ofstream log(path, std::ios::binary);
        log << text;
    }
    for (auto _ : state) {
        CLogStatistics statistics;
        if (!statistics.AddLog(path)) {
            state.SkipWithError("cannot read the log");
            break;
        }
        LogStatistics result = statistics.Result();
        if (result.Results != shape.rows) {
            state.SkipWithError("rows were lost");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    state.counters["log_bytes"] = static_cast<double>(text.size());
    state.counters["rows_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(shape.rows),
                           benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ReadLogStatistics)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return vantrel::bench::RunBenchmarks(argc, argv);
}
