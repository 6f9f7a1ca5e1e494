#include "programdir.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "ledger.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "support/buildpaths.h"
#include "support/runslog.h"

namespace vantrel::soak {

using namespace std::chrono_literals;

CProgramDir::CProgramDir(unsigned instances)
    : m_program(m_work / "program"), m_runtime(m_work / "runtime"), m_server(m_work / "server") {
    test::MakeDirs(m_program);
    test::MakeDirs(m_server);
    // Copied, not linked: the program directory is the directory of the executable itself.
    if (!platform::CopyFile(test::build::kProgram, ProgramFile(), false) ||
        !platform::CopyFile(test::build::kOrvaSim, platform::JoinPath(m_program, "ORVA_sim_cmdline.exe"), false))
        throw std::runtime_error("cannot copy the program and the simulated client");
    InstallSystemParts();
    for (unsigned n = 1; n <= instances; ++n)
        test::MakeDirs(InstancePath(n));
}

CProgramDir::~CProgramDir() {
    // A transmit client outlives a killed program by design; nothing may outlive the test.
    for (int round = 0; round < 50; ++round) {
        std::vector<e2e::ClientProcess> clients = Clients();
        if (clients.empty())
            break;
        for (const e2e::ClientProcess& client : clients)
            KillProcess(client.pid);
        std::this_thread::sleep_for(20ms);
    }
}

std::string CProgramDir::ProgramFile() const {
    return platform::JoinPath(m_program, kProgramFileName);
}

std::string CProgramDir::InstancePath(unsigned n) const {
    return platform::JoinPath(m_program, std::to_string(n));
}

double CProgramDir::Progress(unsigned n) const {
    std::string state = platform::ReadFileText(platform::JoinPath(InstancePath(n), "state.orv")).value_or("");
    std::size_t at = state.find("prog=");
    return at == std::string::npos ? 0.0 : std::atof(state.c_str() + at + 5);
}

std::string CProgramDir::LogPath(const std::string& name) const {
    return m_work / (name + ".log");
}

std::vector<std::string> CProgramDir::WithUser(std::vector<std::string> argv) const {
    argv.insert(argv.begin(), m_runAs.begin(), m_runAs.end());
    return argv;
}

void CProgramDir::WriteConfiguration(std::string_view keywords) const {
    test::WriteFile(m_program + "/vantrel.cfg", std::string(keywords) + "\r\n");
}

std::unique_ptr<e2e::CChild> CProgramDir::Start(const Environment& extra, const std::string& logName) const {
    Environment env = BaseEnvironment();
    for (const auto& [name, value] : extra)
        env[name] = value;
    std::vector<std::string> argv = {ProgramFile()};
    argv.insert(argv.end(), m_args.begin(), m_args.end());
    return std::make_unique<e2e::CChild>(WithUser(argv), env, m_program, LogPath(logName));
}

e2e::RunResult CProgramDir::RunProgram(const std::vector<std::string>& words) const {
    std::vector<std::string> argv = {ProgramFile()};
    argv.insert(argv.end(), words.begin(), words.end());
    return e2e::RunToEnd(WithUser(argv), BaseEnvironment(), 60s);
}

int CProgramDir::PostExit() const {
    return RunProgram({"--post", "16"}).exitCode;
}

std::unique_ptr<e2e::CChild> CProgramDir::StartClient(unsigned n, const std::string& runSwitch,
                                                      const std::string& title, const Environment& knobs) const {
    Environment env = BaseEnvironment();
    for (const auto& [name, value] : knobs)
        env[name] = value;
    if (!title.empty())
        env["VANTREL_CONSOLE_TITLE"] = title;
    auto client = std::make_unique<e2e::CChild>(
        std::vector<std::string>{platform::JoinPath(m_program, "ORVA_sim_cmdline.exe"), runSwitch}, env,
        InstancePath(n), LogPath("clients"));
    if (!title.empty() && client->Started())
        AdoptClient(*client, n, title);
    return client;
}

int CProgramDir::RunClient(unsigned n, const std::string& runSwitch, const Environment& knobs) const {
    std::unique_ptr<e2e::CChild> client = StartClient(n, runSwitch, {}, knobs);
    std::optional<int> code = client->Started() ? ExitCode(*client, 60s) : std::nullopt;
    return code.value_or(-1);
}

bool IsProcessingTitle(const std::string& title) {
    const std::string prefix = "ORVA ";
    return title.rfind(prefix, 0) == 0 && title.size() > prefix.size() &&
           title.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

bool IsTransmitTitle(const std::string& title) {
    const std::string suffix = " - Transmit";
    return title.size() > suffix.size() && title.compare(title.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           IsProcessingTitle(title.substr(0, title.size() - suffix.size()));
}

std::vector<pid_t> PidsWith(const std::vector<e2e::ClientProcess>& clients, bool (*titleTest)(const std::string&)) {
    std::vector<pid_t> pids;
    for (const e2e::ClientProcess& client : clients)
        if (titleTest(client.title))
            pids.push_back(client.pid);
    return pids;
}

pid_t ClientTitled(const CProgramDir& dir, const std::string& title) {
    for (const e2e::ClientProcess& client : dir.Clients())
        if (client.title == title)
            return client.pid;
    return 0;
}

pid_t ClientOf(const CProgramDir& dir, unsigned n) {
    return ClientTitled(dir, "ORVA " + std::to_string(n));
}

pid_t GrandchildOf(const CProgramDir& dir, unsigned n) {
    std::string text = platform::ReadFileText(dir.InstancePath(n) + "/orva_sim_grandchild.pid").value_or("");
    return static_cast<pid_t>(std::strtol(text.c_str(), nullptr, 10));
}

bool WaitForBoth(const CProgramDir& dir, pid_t (*find)(const CProgramDir&, unsigned), pid_t& first, pid_t& second,
                 const std::function<bool(pid_t)>& ready) {
    return test::WaitUntil(
        [&] {
            first = find(dir, 1);
            second = find(dir, 2);
            return first != 0 && second != 0 && IsAlive(first) && ready(second);
        },
        std::chrono::seconds(60));
}

bool EachOnItsSlotsProcessor(const std::vector<pid_t>& clients) {
    const std::vector<unsigned> allowed = platform::GetOwnProcessors();
    if (allowed.size() < clients.size())
        return true;
    for (std::size_t k = 0; k < clients.size(); ++k) {
        const auto pid = static_cast<platform::ProcessId>(clients[k]);
        if (!test::WaitUntil([&] { return platform::GetProcessorsOf(pid) == std::vector<unsigned>{allowed[k]}; },
                             std::chrono::seconds(20)))
            return false;
    }
    return true;
}

std::vector<ClientRun> ReadRuns(const CProgramDir& dir) {
    std::vector<ClientRun> runs;
    std::istringstream lines(platform::ReadFileText(dir.ServerDir() + "/runs.log", std::size_t{1} << 30).value_or(""));
    std::string line;
    while (std::getline(lines, line)) {
        auto fields = test::RunsLogFields(line);
        ClientRun run;
        run.timeMs = std::strtoll(fields["time_ms"].c_str(), nullptr, 10);
        run.pid = static_cast<pid_t>(std::strtol(fields["pid"].c_str(), nullptr, 10));
        run.run = fields["run"];
        run.dir = fields["dir"];
        run.title = fields["title"];
        runs.push_back(run);
    }
    return runs;
}

std::string DrainRetiredCache(const CProgramDir& dir, const Environment& extra, std::chrono::seconds timeout) {
    for (unsigned n : ReadCache(dir.Path()).directories)
        test::WriteFile(dir.InstancePath(n) + "/stop_after_send.txt", "");
    std::unique_ptr<e2e::CChild> program = dir.Start(extra, "drain");
    std::string failures;
    if (!test::WaitUntil([&] { return IsCacheEmptied(dir.Path()); }, timeout)) {
        // What the program said tells a copy that would not start from one that stalled.
        const std::string said = platform::ReadFileText(dir.LogPath("drain"), 1u << 20).value_or("");
        failures += "the retired cache did not empty (the program said: \"" +
                    said.substr(said.size() - std::min<std::size_t>(said.size(), 2000)) + "\"); ";
    }
    if (dir.PostExit() != 0)
        failures += "`--post 16` failed; ";
    if (ExitCode(*program, 60s) != std::optional<int>(0))
        failures += "the program did not end with exit code 0; ";
    if (!test::WaitUntil([&] { return dir.Clients().empty(); }, 60s))
        failures += "a client outlived the program; ";
    return failures;
}

} // namespace vantrel::soak
