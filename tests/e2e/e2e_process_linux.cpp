#include "e2e_process.h"

#include "platform/fileops.h"
#include "support/buildpaths.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::e2e {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

std::optional<std::string> FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = platform::JoinPath(dirs.substr(start, end - start), name);
        if (end > start && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

Environment MergedEnvironment(const Environment& changes) {
    Environment env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::size_t equals = text.find('=');
        if (equals != std::string::npos)
            env.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    for (const auto& [name, value] : changes)
        env[name] = value;
    return env;
}

std::string LeakOptions() {
    return std::string("suppressions=") + test::build::kLsanSuppressions + ":print_suppressions=0";
}

CChild::CChild(const std::vector<std::string>& argv, const Environment& env, const std::string& cwd,
               const std::string& logPath, bool captureOutput) {
    std::vector<std::string> args = argv;
    std::vector<std::string> entries;
    for (const auto& [name, value] : env)
        entries.push_back(name + "=" + value);
    int pipeFds[2] = {-1, -1};
    if (captureOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (captureOutput)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    else
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char*> argPointers = Pointers(args);
    std::vector<char*> envPointers = Pointers(entries);
    pid_t pid = -1;
    int error = ::posix_spawn(&pid, args.front().c_str(), &actions, nullptr, argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (captureOutput) {
        ::close(pipeFds[1]);
        m_out = pipeFds[0];
    }
    if (error != 0)
        return;
    m_pid = pid;
    m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

CChild::~CChild() {
    if (m_pid > 0 && !m_status) {
        // Asked first, so an X server removes its lock and socket; killed if it does not go.
        ::kill(m_pid, SIGTERM);
        if (!WaitForExit(std::chrono::seconds(5))) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    if (m_out >= 0)
        ::close(m_out);
}

std::optional<std::string> CChild::ReadLine() {
    std::string line;
    char c = 0;
    for (;;) {
        if (m_out < 0 || ::read(m_out, &c, 1) != 1)
            return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n')
            return line;
        line += c;
    }
}

std::optional<int> CChild::WaitForExit(std::chrono::milliseconds timeout) {
    if (m_status || m_pid <= 0)
        return m_status;
    pollfd ready{m_pidfd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) != 1)
        return std::nullopt;
    int status = 0;
    if (::waitpid(m_pid, &status, 0) == m_pid)
        m_status = status;
    return m_status;
}

RunResult RunToEnd(const std::vector<std::string>& argv, const Environment& env, std::chrono::milliseconds timeout) {
    RunResult result;
    CChild child(argv, env, {}, "/dev/null", true);
    if (!child.Started())
        return result;
    while (std::optional<std::string> line = child.ReadLine())
        result.output += *line + "\n";
    std::optional<int> status = child.WaitForExit(timeout);
    if (status && WIFEXITED(*status))
        result.exitCode = WEXITSTATUS(*status);
    return result;
}

// -noreset: an X server resets when its last client leaves and refuses new ones meanwhile, so the
// program would connect just as the test's first look at the display has left.
CVirtualDisplay::CVirtualDisplay(const std::string& xvfb, const std::string& logPath)
    : m_server({xvfb, "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"}, MergedEnvironment({}), {},
               logPath, true) {
    if (!m_server.Started())
        return;
    std::optional<std::string> number = m_server.ReadLine();
    if (number && !number->empty())
        m_name = ":" + *number;
}

std::string VisibleWindows(const std::string& xdotool, const Environment& env, const std::string& title) {
    return RunToEnd({xdotool, "search", "--onlyvisible", "--name", "^" + title + "( - .*)?$"}, env).output;
}

Workspace::Workspace()
    : program(work / "program"), runtime(work / "runtime"), logs(std::string(test::build::kArtifacts)) {
    test::MakeDirs(program);
    test::MakeDirs(logs);
    ::mkdir(runtime.c_str(), 0700);
}

bool InstallPortableCopy(const std::string& dir) {
    // Copied, not linked: the program directory is where the executable lies.
    bool copied = platform::CopyFile(test::build::kProgram, dir + "/vantrel", false) &&
                  platform::CopyFile(test::build::kOrvaSim, dir + "/ORVA_sim_cmdline.exe", false);
    ::chmod((dir + "/vantrel").c_str(), 0755);
    ::chmod((dir + "/ORVA_sim_cmdline.exe").c_str(), 0755);
    return copied;
}

std::vector<ClientProcess> ClientsBeneath(const std::string& dir) {
    namespace fs = std::filesystem;
    const std::string variable = "VANTREL_CONSOLE_TITLE=";
    std::vector<ClientProcess> found;
    std::error_code ec;
    const std::string root = fs::weakly_canonical(dir, ec).string() + "/";
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string cwd = fs::read_symlink(entry.path() / "cwd", ec).string();
        if (ec || cwd.rfind(root, 0) != 0)
            continue;
        // The environment is a run of NUL-terminated entries.
        std::string environment = platform::ReadFileText((entry.path() / "environ").string()).value_or("");
        for (std::size_t at = 0; at < environment.size(); at = environment.find('\0', at) + 1) {
            if (environment.compare(at, variable.size(), variable) == 0) {
                found.push_back(
                    {static_cast<pid_t>(std::stol(name)),
                     environment.substr(at + variable.size(), environment.find('\0', at) - at - variable.size())});
                break;
            }
            if (environment.find('\0', at) == std::string::npos)
                break;
        }
    }
    return found;
}

} // namespace vantrel::e2e
