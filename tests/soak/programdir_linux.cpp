#include "programdir.h"

#include <csignal>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fileops.h"
#include "support/buildpaths.h"

namespace vantrel::soak {

using namespace std::chrono_literals;

const char* const kProgramFileName = "vantrel";

void CProgramDir::InstallSystemParts() {
    if (::mkdir(m_runtime.c_str(), 0700) != 0)
        throw std::runtime_error("cannot make " + m_runtime);
    // What `vantrel --headless` becomes lies beside it.
    if (!platform::CopyFile(test::build::kHeadlessProgram, m_program + "/vantrel-headless", false))
        throw std::runtime_error("cannot copy the headless program");
}

bool CProgramDir::RunAs(unsigned uid, unsigned gid) {
    std::optional<std::string> setpriv = e2e::FindProgram("setpriv");
    if (!setpriv || ::geteuid() != 0 || ::chmod(m_work.Path().c_str(), 0755) != 0)
        return false;
    std::error_code error;
    for (const std::string& top : {m_program, m_runtime, m_server}) {
        if (::chown(top.c_str(), uid, gid) != 0)
            return false;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(top, error))
            if (::lchown(entry.path().c_str(), uid, gid) != 0)
                return false;
    }
    m_runAs = {*setpriv, "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(gid), "--clear-groups"};
    return !error;
}

Environment CProgramDir::BaseEnvironment() const {
    Environment env = e2e::MergedEnvironment({
        {"QT_QPA_PLATFORM", "offscreen"},
        {"XDG_RUNTIME_DIR", m_runtime},
        {"ORVA_SIM_SERVER", m_server},
        {"LSAN_OPTIONS", e2e::LeakOptions()},
    });
    // Without a display no client console is put in a terminal window, whatever its show command.
    env.erase("DISPLAY");
    env.erase("WAYLAND_DISPLAY");
    return env;
}

std::vector<e2e::ClientProcess> CProgramDir::Clients() const {
    return e2e::ClientsBeneath(m_program);
}

void CProgramDir::AdoptClient(const e2e::CChild&, unsigned, const std::string&) const {
    // The program finds its clients by the title in their environment and their directory.
}

std::chrono::milliseconds ClientStartAllowance() {
    return 50ms;
}

bool KillProcess(pid_t pid) {
    return ::kill(pid, SIGKILL) == 0;
}

bool IsAlive(pid_t pid) {
    std::string stat = platform::ReadFileText("/proc/" + std::to_string(pid) + "/stat").value_or("");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size())
        return false;
    char state = stat[close + 2];
    return state != 'Z' && state != 'X';
}

bool WorksIn(const CProgramDir&, pid_t pid, const std::string& path) {
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd", error);
    return !error && cwd == std::filesystem::weakly_canonical(path, error);
}

bool MakeFifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

bool IsFifo(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool KillHard(e2e::CChild& program) {
    if (::kill(program.Pid(), SIGKILL) != 0)
        return false;
    return program.WaitForExit(10s).has_value();
}

std::optional<int> ExitCode(e2e::CChild& program, std::chrono::milliseconds timeout) {
    std::optional<int> status = program.WaitForExit(timeout);
    if (!status)
        return std::nullopt;
    if (WIFSIGNALED(*status))
        return 128 + WTERMSIG(*status);
    return WEXITSTATUS(*status);
}

std::optional<ProcessSample> SampleProcess(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::optional<std::string> status = platform::ReadFileText(proc + "/status");
    if (!status)
        return std::nullopt;
    std::size_t at = status->find("VmRSS:");
    if (at == std::string::npos)
        return std::nullopt;
    ProcessSample sample;
    sample.rssKb = std::strtol(status->c_str() + at + 6, nullptr, 10);
    std::vector<platform::DirEntry> fds = platform::ListDirectory(proc + "/fd");
    if (fds.empty())
        return std::nullopt;
    sample.fds = static_cast<long>(fds.size());
    // "pid (comm) state ppid ...": utime and stime are the 12th and 13th fields after the name.
    std::string stat = platform::ReadFileText(proc + "/stat").value_or("");
    std::size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 1));
        std::string field;
        long ticks = 0;
        for (int i = 0; i < 13 && fields >> field; ++i)
            if (i >= 11)
                ticks += std::strtol(field.c_str(), nullptr, 10);
        sample.cpuSeconds = static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    return sample;
}

} // namespace vantrel::soak
