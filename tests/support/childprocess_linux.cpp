#include "support/childprocess.h"

#include "support/buildpaths.h"

#include <csignal>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::test {

namespace {

// The file a child's stream is appended to; -1 when none is named.
int OpenOutput(const std::string& path) {
    if (path.empty())
        return -1;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    return fd;
}

} // namespace

TestChild::TestChild(const std::vector<std::string>& argv, const std::string& cwd,
                     const std::vector<std::string>& extraEnv, const ChildOutput& output) {
    int inPipe[2];
    int outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const int outFile = OpenOutput(output.outFile);
    const int errFile = output.errFile == output.outFile ? outFile : OpenOutput(output.errFile);
    std::vector<std::string> inherited;
    for (char** e = environ; *e != nullptr; ++e)
        inherited.emplace_back(*e);
    std::vector<std::string> env = MergeEnvironmentEntries(std::move(inherited), extraEnv);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        dup2(inPipe[0], STDIN_FILENO);
        dup2(outFile >= 0 ? outFile : outPipe[1], STDOUT_FILENO);
        if (errFile >= 0)
            dup2(errFile, STDERR_FILENO);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    if (outFile >= 0)
        close(outFile);
    if (errFile >= 0 && errFile != outFile)
        close(errFile);
    m_in = inPipe[1];
    m_out = outPipe[0];
}

TestChild::~TestChild() {
    Kill();
    if (m_in >= 0)
        close(m_in);
    if (m_out >= 0)
        close(m_out);
}

std::string TestChild::ReadLine() {
    std::string line;
    char c;
    while (read(m_out, &c, 1) == 1) {
        if (c == '\n')
            break;
        line += c;
    }
    return line;
}

std::string TestChild::ReadToEnd() {
    std::string rest;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(m_out, buffer, sizeof buffer);
        if (got > 0)
            rest.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            return rest;
    }
}

void TestChild::CloseInput() {
    if (m_in >= 0) {
        close(m_in);
        m_in = -1;
    }
}

int TestChild::Kill() {
    if (m_pid > 0 && !m_reaped)
        ::kill(m_pid, SIGKILL);
    return Wait();
}

int TestChild::Wait() {
    if (m_pid > 0 && !m_reaped) {
        while (waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
    }
    return m_status;
}

int ChildExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> LockHolderArgs(const std::string& kind, const std::string& path) {
    return {test::build::kLockHolder, kind, path};
}

int CountZombieChildren() {
    const std::string self = std::to_string(getpid());
    int zombies = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        std::ifstream in(it->path() / "stat");
        std::string stat;
        if (!std::getline(in, stat))
            continue;
        // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so read after the last ')'.
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        std::string ppid;
        rest >> state >> ppid;
        if (state == "Z" && ppid == self)
            ++zombies;
    }
    return zombies;
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

} // namespace vantrel::test
