#include "simfixture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::test {

SimTest::SimTest() {
    // Knobs or titles from the shell that runs the tests would shadow the ones given here.
    std::vector<std::string> inherited;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string name(*entry, std::strcspn(*entry, "="));
        if (name.starts_with("ORVA_SIM_") || name.starts_with("VANTREL_"))
            inherited.push_back(name);
    }
    for (const std::string& name : inherited)
        ::unsetenv(name.c_str());
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
    std::vector<std::string> argv{VANTREL_TEST_ORVA_SIM};
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

bool WaitForEnd(const TestChild& child, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
            siginfo_t info{};
            // WNOWAIT leaves the child to be reaped by its owner.
            return ::waitid(P_PID, static_cast<id_t>(child.Pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == child.Pid();
        },
        limit);
}

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool IsLockHeld(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
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
