#include "simfixture.h"

#include "platform/filelock.h"
#include "support/buildpaths.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>

namespace vantrel::test {

SimTest::SimTest() {
    // Knobs or titles from the shell that runs the tests would shadow the ones given here.
    for (const std::string& name : EnvironmentNames())
        if (name.starts_with("ORVA_SIM_") || name.starts_with("VANTREL_"))
            SetEnv(name.c_str(), std::nullopt);
    m_env = {{"ORVA_SIM_SERVER", ServerDir()},
             {"ORVA_SIM_PROCESS_SECONDS", "0.3"},
             {"ORVA_SIM_STATE_INTERVAL", "0.02"},
             {"ORVA_SIM_TRANSFER_SECONDS", "0.02"}};
}

std::string SimTest::Instance(int n) const {
    std::string dir = m_temp / std::to_string(n);
    MakeDirs(dir);
    return dir;
}

std::unique_ptr<TestChild> SimTest::Start(const std::string& dir, const std::vector<std::string>& args,
                                          const std::vector<std::string>& env) const {
    std::map<std::string, std::string> merged = m_env;
    for (const std::string& entry : env) {
        size_t equals = entry.find('=');
        merged[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : merged)
        entries.push_back(name + "=" + value);
    std::vector<std::string> argv{test::build::kOrvaSim};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<TestChild>(argv, dir, entries);
}

int SimTest::Run(const std::string& dir, const std::vector<std::string>& args,
                 const std::vector<std::string>& env) const {
    std::unique_ptr<TestChild> child = Start(dir, args, env);
    if (!WaitForEnd(*child, std::chrono::seconds(30))) {
        child->Kill();
        return -1;
    }
    return ExitCode(child->Wait());
}

bool IsLockHeld(const std::string& path) {
    return platform::IsFileLockedByOther(path);
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::optional<std::string> ValueOf(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.starts_with(key + "="))
            return line.substr(key.size() + 1);
    return std::nullopt;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace vantrel::test
