#include "platform/uniquefd.h"
#include "platform/process.h"
#include "platform/process_detail_linux.h"

#include <charconv>
#include <filesystem>
#include <unistd.h>

namespace vantrel::platform {

namespace {

namespace fs = std::filesystem;

// How the kernel shows the current directory of a process after that directory was removed.
constexpr std::string_view kDeletedSuffix = " (deleted)";

std::optional<pid_t> ParsePid(const std::string& name) {
    pid_t pid = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size() || pid <= 0)
        return std::nullopt;
    return pid;
}

// The directory as the kernel shows a process's cwd: absolute, links resolved, no "." or "..",
// no trailing "/". A directory that no longer exists keeps its resolved parent and its name.
std::string ResolveDirectory(const std::string& directory) {
    if (directory.empty())
        return {};
    std::error_code error;
    fs::path absolute = fs::absolute(directory, error);
    if (error)
        return {};
    fs::path resolved = fs::weakly_canonical(absolute, error);
    if (error)
        return {};
    std::string text = resolved.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// A client whose instance directory was removed under it still belongs to that instance.
bool IsSameDirectory(const std::optional<std::string>& cwd, const std::string& directory) {
    if (!cwd)
        return false;
    std::string_view shown(*cwd);
    if (shown.ends_with(kDeletedSuffix))
        shown.remove_suffix(kDeletedSuffix.size());
    return shown == directory;
}

std::optional<ProcessHandle> OpenIfClient(pid_t pid, const std::string& titleEntry, const std::string& directory) {
    // The pidfd comes first. If the process ends and its pid passes to another one while we read
    // /proc, the check at the end sees the ended process and drops what we read.
    UniqueFd pidfd(pidfd_open(pid, 0));
    if (!pidfd.IsValid())
        return std::nullopt;
    const std::string proc = "/proc/" + std::to_string(pid);
    if (!IsSameDirectory(detail::ReadLinkPath(proc + "/cwd"), directory))
        return std::nullopt;
    // A zombie's environment reads empty, so a zombie is never found.
    std::optional<std::string> environment = detail::ReadProcFile(proc + "/environ");
    if (!environment || !detail::HoldsEntry(*environment, titleEntry))
        return std::nullopt;
    if (pidfd_send_signal(pidfd.Get(), 0, nullptr, 0) != 0 || detail::PidFdHasEnded(pidfd.Get()))
        return std::nullopt;
    // Even a child of ours is reaped only through the handle that started it.
    return ProcessHandle::Adopt(pidfd.Release(), pid, false);
}

} // namespace

std::vector<ProcessHandle> FindProcessesByTitle(const std::string& title, const std::string& workingDirectory) {
    std::vector<ProcessHandle> found;
    const std::string directory = ResolveDirectory(workingDirectory);
    if (directory.empty())
        return found;
    const std::string titleEntry = detail::ConsoleTitleEntry(title);
    const pid_t self = getpid();
    std::error_code error;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        std::optional<pid_t> pid = ParsePid(it->path().filename().string());
        if (!pid || *pid == self)
            continue;
        if (std::optional<ProcessHandle> client = OpenIfClient(*pid, titleEntry, directory))
            found.push_back(std::move(*client));
    }
    return found;
}

} // namespace vantrel::platform
