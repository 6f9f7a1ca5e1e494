#include "platform/uniquefd_linux.h"
#include "platform/process.h"
#include "platform/process_detail_linux.h"
#include "platform/wait_linux.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform::detail {

namespace {

std::atomic<std::uint64_t> g_processListWalks{0};

std::optional<pid_t> ParsePid(std::string_view name) {
    pid_t pid = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size() || pid <= 0)
        return std::nullopt;
    return pid;
}

} // namespace

std::vector<pid_t> ListProcesses() {
    g_processListWalks.fetch_add(1, std::memory_order_relaxed);
    std::vector<pid_t> pids;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error))
        if (std::optional<pid_t> pid = ParsePid(it->path().filename().string()))
            pids.push_back(*pid);
    return pids;
}

std::optional<std::string> ReadProcFile(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsValid())
        return std::nullopt;
    std::string content;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd.Get(), buffer, sizeof buffer);
        if (got > 0)
            content.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0)
            return content;
        else if (errno != EINTR)
            return std::nullopt;
    }
}

std::string ConsoleTitleEntry(const std::string& title) {
    return std::string(kConsoleTitleVariable) + "=" + title;
}

bool HoldsEntry(const std::string& environment, const std::string& entry) {
    std::string_view rest(environment);
    while (!rest.empty()) {
        std::size_t end = rest.find('\0');
        if (rest.substr(0, end) == entry)
            return true;
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return false;
}

std::optional<std::string> ReadLinkPath(const std::string& path) {
    std::string target(256, '\0');
    // readlink truncates silently: grow until the answer fits.
    for (;;) {
        ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string FindOnPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty() || name.find('/') != std::string_view::npos)
        return {};
    std::string_view directories(path);
    while (!directories.empty()) {
        std::size_t end = directories.find(':');
        std::string_view directory = directories.substr(0, end);
        directories = end == std::string_view::npos ? std::string_view() : directories.substr(end + 1);
        if (directory.empty() || directory.front() != '/')
            continue;
        std::string candidate = std::string(directory) + "/" + std::string(name);
        if (IsExecutableFile(candidate))
            return candidate;
    }
    return {};
}

bool PidFdHasEnded(int pidfd) {
    // A descriptor that cannot be waited on names no process we could wait for either.
    return WaitForAnyFd({pidfd}, std::chrono::milliseconds(0)) != kWaitTimeout;
}

} // namespace vantrel::platform::detail

namespace vantrel::platform {

std::uint64_t CountProcessListWalks() {
    return detail::g_processListWalks.load(std::memory_order_relaxed);
}

bool IsExecutableFile(const std::string& path) {
    return detail::IsExecutableFile(path);
}

bool AllowOwnerToExecute(const std::string& path) {
    // Opened without following a link: the bit goes on the file we were given, nothing else.
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!fd.IsValid() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return (info.st_mode & S_IXUSR) != 0 || fchmod(fd.Get(), (info.st_mode & 07777) | S_IXUSR) == 0;
}

ProcessId CurrentProcessId() {
    return ::getpid();
}

void ReplaceCurrentProgram(const std::string& path, char** argv) {
    ::execv(path.c_str(), argv);
}

} // namespace vantrel::platform
