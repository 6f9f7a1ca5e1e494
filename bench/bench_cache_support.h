#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace vantrel::bench {

// Instances 1..count in turn holding a work unit, a result and a broken-off download, each with
// the lock file a finished client leaves behind (so every lock probe opens it), every tenth retired.
inline void MakeBenchCache(const std::string& programDir, int count) {
    for (int n = 1; n <= count; ++n) {
        std::string instance = programDir + "/" + std::to_string(n);
        std::filesystem::create_directory(instance);
        const char* held[] = {"/work_unit.orv", "/result.orv", "/wtemp.orv"};
        std::ofstream(instance + held[n % 3]) << "name=wu" << n << "\n";
        std::ofstream(instance + "/lock.orv");
        if (n % 10 == 0)
            std::ofstream(instance + "/stop_after_send.txt");
    }
}

} // namespace vantrel::bench
