// How long appending one row to the CSV log takes for a log of 10 rows and one of 100,000: only
// the first line is read before the append, so the figures should be alike.
#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "bench_data_support.h"
#include "data/logformat.h"
#include "data/resultlog.h"

namespace {

using namespace vantrel;
using bench::BenchDir;

// A row like a real one: every column filled.
std::string SampleRow() {
    std::string row = "2024.03.05 07:08:09";
    for (std::size_t i = 1; i < kLogColumnCount; ++i)
        row += "," + QuoteField(i % 3 == 0 ? "some text" : "0.0123456");
    return row;
}

void BM_AppendToLog(benchmark::State& state) {
    BenchDir dir;
    std::string path = dir.Path() + "/ORVALog.csv";
    std::string row = SampleRow();
    {
        std::ofstream log(path, std::ios::binary);
        log << LogHeader();
        for (int64_t i = 0; i < state.range(0); ++i)
            log << "\r\n" << row;
    }
    const auto initialSize = std::filesystem::file_size(path);
    int64_t appended = 0;
    for (auto _ : state) {
        if (!AppendToLog(path, row)) {
            state.SkipWithError("append failed");
            break;
        }
        // Keep the log at its starting size so the figure belongs to that size.
        if (++appended % 1024 == 0) {
            state.PauseTiming();
            if (truncate(path.c_str(), static_cast<off_t>(initialSize)) != 0)
                state.SkipWithError("cannot shrink the log");
            state.ResumeTiming();
        }
    }
    state.counters["log_bytes"] = static_cast<double>(initialSize);
}

BENCHMARK(BM_AppendToLog)->Arg(10)->Arg(100000);

} // namespace

int main(int argc, char** argv) {
    return vantrel::bench::RunBenchmarks(argc, argv);
}
