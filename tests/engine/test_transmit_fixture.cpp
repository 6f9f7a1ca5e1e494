// Helpers of the transmit tests: waiting for a pass, reading the simulated client's run records.
#include "test_transmit_fixture.h"

#include <algorithm>
#include <sys/stat.h>

namespace vantrel::test::transmit {

namespace {

// The value of "NAME=value" among the tab-separated fields of a runs.log line.
std::string Field(const std::string& line, const std::string& name) {
    std::istringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t'))
        if (field.starts_with(name + "="))
            return field.substr(name.size() + 1);
    return {};
}

} // namespace

TransmitTest::TransmitTest() : EngineTest(TransmitTimings()) {
    // Hidden clients only: no terminal window opens during the tests.
    unsetenv("DISPLAY");
    setenv("ORVA_SIM_SERVER", server.Path().c_str(), 1);
    setenv("ORVA_SIM_TRANSFER_SECONDS", "0.01", 1);
    for (const char* knob : {"ORVA_SIM_FAIL_RATE", "ORVA_SIM_FAIL_TRANSFER", "ORVA_SIM_PARTIAL_DOWNLOAD"})
        unsetenv(knob);
    store.SetClientPath(VANTREL_TEST_ORVA_SIM);
    transmitter = std::make_unique<CTransmitter>(ctx, host);
}

bool TransmitTest::Exists(unsigned n, const std::string& name) const {
    struct stat st {};
    return lstat(InstFile(n, name).c_str(), &st) == 0;
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
        SimRun run;
        run.pid = std::stol(Field(line, "pid"));
        run.run = Field(line, "run");
        run.dir = Field(line, "dir");
        run.title = Field(line, "title");
        run.show = Field(line, "show");
        run.args = Field(line, "args");
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

bool IsProcessRunning(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return false;
    // The state follows the command name, which is in parentheses and may hold blanks.
    std::size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' && text[close + 2] != 'X';
}

std::size_t CountOf(const std::vector<unsigned>& messages, unsigned message) {
    return static_cast<std::size_t>(std::count(messages.begin(), messages.end(), message));
}

} // namespace vantrel::test::transmit
