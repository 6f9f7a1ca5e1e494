#pragma once

#include "platform/fileops.h"
#include "platform/process.h"
#include "support/buildpaths.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace vantrel::test {

// A program directory: a program file "vantrel" (never run) and the simulated client beside it,
// whose project server lands in "orva-server" there.
struct ProgramDir {
    TempDir dir;
    std::string exe = dir / "vantrel";
    std::string client = dir / "ORVA_sim_cmdline.exe";

    ProgramDir() {
        WriteFile(exe, "not run");
        EXPECT_TRUE(platform::CopyFile(test::build::kOrvaSim, client, false));
        ::chmod(client.c_str(), 0755);
    }

    // A pass's transmit client runs on past the program's end, as it should; nothing outlives
    // the test, whose directory goes with it.
    // One look through the processes for all of them: a test may leave ten thousand directories.
    ~ProgramDir() {
        std::vector<std::pair<std::string, std::string>> wanted;
        for (const auto& entry : platform::ListDirectory(dir.Path()))
            for (const std::string& title : {"ORVA " + entry.name, "ORVA " + entry.name + " - Transmit"})
                wanted.emplace_back(title, dir / entry.name);
        for (std::vector<platform::ProcessHandle>& clients : platform::FindProcessesByTitles(wanted))
            for (platform::ProcessHandle& running : clients)
                running.Terminate();
    }
    ProgramDir(const ProgramDir&) = delete;
    ProgramDir& operator=(const ProgramDir&) = delete;

    std::string Instance(unsigned n) const { return dir / std::to_string(n); }
    // An instance directory; knobs slow the simulated client down in it alone.
    void MakeInstance(unsigned n, const std::string& knobs = {}) const {
        MakeDirs(Instance(n));
        if (!knobs.empty())
            WriteFile(Instance(n) + "/orva_sim_knobs.txt", knobs);
    }
};

} // namespace vantrel::test
