#pragma once

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace vantrel::bench {

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

// The main of a benchmark program that is its own client: started with "-stop_after_process" it
// runs client() instead of the benchmarks.
inline int RunBenchmarksOrClient(int argc, char** argv, int (*client)()) {
    if (argc == 2 && std::strcmp(argv[1], "-stop_after_process") == 0)
        return client();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace vantrel::bench
