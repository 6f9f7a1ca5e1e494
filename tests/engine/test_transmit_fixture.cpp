// Helpers of the transmit tests: waiting for a pass, reading the simulated client's run records.
#include "test_transmit_fixture.h"

#include "support/buildpaths.h"
#include "support/runslog.h"

#include <algorithm>
#include <filesystem>

namespace vantrel::test::transmit {

TransmitTest::TransmitTest() : EngineTest(TransmitTimings()) {
    // Hidden clients only: no terminal window opens during the tests.
    SetEnv("DISPLAY", std::nullopt);
    SetEnv("ORVA_SIM_SERVER", server.Path());
    SetEnv("ORVA_SIM_TRANSFER_SECONDS", "0.01");
    for (const char* knob : {"ORVA_SIM_FAIL_RATE", "ORVA_SIM_FAIL_TRANSFER", "ORVA_SIM_PARTIAL_DOWNLOAD"})
        SetEnv(knob, std::nullopt);
    store.SetClientPath(test::build::kOrvaSim);
    transmitter = std::make_unique<CTransmitter>(ctx, host);
}

bool TransmitTest::Exists(unsigned n, const std::string& name) const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(InstFile(n, name), ec));
}

void TransmitTest::MakeResult(unsigned n) {
    MakeEmpty(n);
    WriteFile(InstFile(n, "result.orv"), "wu_number=" + std::to_string(100 + n) + "\nname=wu" + std::to_string(n) +
                                             "\ncpu_time=3600.5\nprog=1.000000\n");
}

void TransmitTest::MakeUserInfo(unsigned n, int count) {
    WriteFile(InstFile(n, "user_info.orv"), "user_id=77\nname=Tester\nnresults=" + std::to_string(count) + "\n");
}

void TransmitTest::RefillWithResult(unsigned n) {
    std::remove(InstFile(n, "work_unit.orv").c_str());
    MakeResult(n);
}

std::vector<unsigned> TransmitTest::WaitForPassEnd(std::chrono::seconds limit) {
    std::vector<unsigned> messages;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::optional<unsigned> message = dialog.Take(100ms);
        if (!message)
            continue;
        messages.push_back(*message);
        if (*message == WM_APP_1)
            return messages;
    }
    ADD_FAILURE() << "the pass did not end";
    return messages;
}

std::vector<SimRun> TransmitTest::Runs() const {
    std::vector<SimRun> runs;
    std::istringstream log(ReadFile(server / "runs.log"));
    std::string line;
    while (std::getline(log, line)) {
        auto fields = RunsLogFields(line);
        SimRun run;
        run.pid = std::stol(fields["pid"]);
        run.run = fields["run"];
        run.dir = fields["dir"];
        run.title = fields["title"];
        run.show = fields["show"];
        run.args = fields["args"];
        runs.push_back(run);
    }
    return runs;
}

std::vector<std::string> TransmitTest::RunDirs() const {
    std::vector<std::string> dirs;
    for (const SimRun& run : Runs())
        dirs.push_back(run.dir);
    return dirs;
}

bool TransmitTest::WaitForRuns(std::size_t count) const {
    return WaitUntil([&] { return Runs().size() >= count; }, 30s);
}

std::size_t CountOf(const std::vector<unsigned>& messages, unsigned message) {
    return static_cast<std::size_t>(std::count(messages.begin(), messages.end(), message));
}

} // namespace vantrel::test::transmit
