#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "engine/messagetarget.h"

namespace vantrel::bench {

// Waits up to timeout for the message, passing over any other the engine posts meanwhile (the
// watcher's progress messages); false when it did not come.
inline bool TakeMessage(CMessageQueue& queue, unsigned message, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        std::optional<unsigned> got = queue.Take(std::max(left, std::chrono::milliseconds(0)));
        if (got == message)
            return true;
        if (!got)
            return false;
    }
}

// A fresh directory under the temp directory, removed with its contents when the object goes.
class BenchDir {
public:
    BenchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~BenchDir() {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    BenchDir(const BenchDir&) = delete;
    BenchDir& operator=(const BenchDir&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Instances 1..count of programDir, each with a work unit (the oldest in instance 1, all a day
// old) and the user's account data.
inline void MakeWorkUnitCache(const std::string& programDir, int count) {
    const std::time_t old = std::time(nullptr) - 86'400;
    for (int n = 1; n <= count; ++n) {
        std::string instance = programDir + "/" + std::to_string(n);
        std::filesystem::create_directory(instance);
        std::ofstream(instance + "/user_info.orv") << "nresults=1\n";
        std::ofstream(instance + "/work_unit.orv") << "name=wu" << n << "\n";
        timespec times[2] = {{old + n, 0}, {old + n, 0}};
        utimensat(AT_FDCWD, (instance + "/work_unit.orv").c_str(), times, 0);
    }
}

// The CSV reporter takes its columns from the first row it sees and aborts on a later row with a
// counter those lack; a run that could not be measured (SkipWithError) has no counters. The runs
// that measured go first, so a figure that cannot be measured only leaves its own row empty.
// The library marks its CSV reporter deprecated; print-figures reads CSV, and this is the one it
// has.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
class CMeasuredFirstCsvReporter : public benchmark::CSVReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            (run.error_occurred ? m_failed : m_measured).push_back(run);
    }
    void Finalize() override {
        if (!m_measured.empty())
            CSVReporter::ReportRuns(m_measured);
        if (!m_failed.empty())
            CSVReporter::ReportRuns(m_failed);
        CSVReporter::Finalize();
    }

private:
    std::vector<Run> m_measured;
    std::vector<Run> m_failed;
};
#pragma GCC diagnostic pop

// Runs the benchmarks named on the command line; CSV output through CMeasuredFirstCsvReporter.
inline int RunBenchmarks(int argc, char** argv) {
    bool csv = false;
    for (int i = 1; i < argc; ++i)
        csv = csv || std::string_view(argv[i]) == "--benchmark_format=csv";
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (csv) {
        CMeasuredFirstCsvReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}

// The main of a benchmark program that is its own client: started with "-stop_after_process" it
// runs client() instead of the benchmarks.
inline int RunBenchmarksOrClient(int argc, char** argv, int (*client)()) {
    if (argc == 2 && std::strcmp(argv[1], "-stop_after_process") == 0)
        return client();
    return RunBenchmarks(argc, argv);
}

} // namespace vantrel::bench
