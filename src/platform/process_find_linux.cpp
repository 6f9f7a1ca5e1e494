#include "platform/uniquefd_linux.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/process_detail_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <map>
#include <optional>
#include <set>
#include <filesystem>
#include <unistd.h>

namespace vantrel::platform {

namespace {

namespace fs = std::filesystem;

// How the kernel shows the current directory of a process after that directory was removed.
constexpr std::string_view kDeletedSuffix = " (deleted)";

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

// ResolveDirectory for many directories that mostly share a parent (every instance directory of
// one program directory): the parent is resolved once, and a child that is no link resolves to the
// parent's resolution and its own name. Resolving each whole path would look at every component
// of it again, ten system calls an instance, 100,000 at start-up with 10,000.
class CDirectoryResolver {
public:
    std::string Resolve(const std::string& directory) {
        fs::path path(directory);
        const std::string name = path.filename().string();
        // ".", ".." and a link change what comes before them; a name that is not there yet keeps
        // its resolved parent, as weakly_canonical does.
        if (path.is_relative() || name.empty() || name == "." || name == "..")
            return ResolveDirectory(directory);
        Parent& parent = m_parents[path.parent_path().string()];
        if (!IsKnownDirectory(parent, path, name)) {
            struct stat info {};
            if (lstat(directory.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
                return ResolveDirectory(directory);
        }
        if (!parent.resolved)
            parent.resolved = ResolveDirectory(path.parent_path().string());
        if (parent.resolved->empty())
            return {};
        return *parent.resolved == "/" ? "/" + name : *parent.resolved + "/" + name;
    }

private:
    struct Parent {
        std::optional<std::string> resolved;
        unsigned asked = 0;
        // The names the parent's listing shows as directories (never links), once listed.
        std::optional<std::set<std::string>> directories;
    };

    // Whether the parent's listing shows name as a directory. A parent asked for a second child
    // is listed once, which answers for all its children in a few reads; a lone child costs its
    // own look-up instead.
    static bool IsKnownDirectory(Parent& parent, const fs::path& path, const std::string& name) {
        if (!parent.directories && ++parent.asked > 1) {
            parent.directories.emplace();
            for (DirEntry& entry : ListDirectory(path.parent_path().string()))
                if (entry.isDirectory)
                    parent.directories->insert(std::move(entry.name));
        }
        return parent.directories && parent.directories->contains(name);
    }

    std::map<std::string, Parent> m_parents;
};

// The directory a process works in, as the kernel shows it; a removed one keeps its name.
std::optional<std::string> WorkingDirectoryOf(const std::string& proc) {
    std::optional<std::string> cwd = detail::ReadLinkPath(proc + "/cwd");
    if (cwd && std::string_view(*cwd).ends_with(kDeletedSuffix))
        cwd->resize(cwd->size() - kDeletedSuffix.size());
    return cwd;
}

// Adds pid to found[i] for every wanted (title, directory) it matches; directories maps each
// resolved directory to the indexes of the pairs that name it.
void OpenIfClient(pid_t pid, const std::vector<std::string>& titleEntries,
                  const std::map<std::string, std::vector<std::size_t>>& directories,
                  std::vector<std::vector<ProcessHandle>>& found) {
    // The pidfd comes first. If the process ends and its pid passes to another one while we read
    // /proc, the check at the end sees the ended process and drops what we read.
    UniqueFd pidfd(pidfd_open(pid, 0));
    if (!pidfd.IsValid())
        return;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::optional<std::string> cwd = WorkingDirectoryOf(proc);
    auto wanted = cwd ? directories.find(*cwd) : directories.end();
    if (wanted == directories.end())
        return;
    // A zombie's environment reads empty, so a zombie is never found.
    std::optional<std::string> environment = detail::ReadProcFile(proc + "/environ");
    if (!environment)
        return;
    std::vector<std::size_t> matches;
    for (std::size_t i : wanted->second)
        if (detail::HoldsEntry(*environment, titleEntries[i]))
            matches.push_back(i);
    if (matches.empty() || pidfd_send_signal(pidfd.Get(), 0, nullptr, 0) != 0 || detail::PidFdHasEnded(pidfd.Get()))
        return;
    // Even a child of ours is reaped only through the handle that started it. A pair named twice
    // gets a descriptor of its own.
    for (std::size_t k = 1; k < matches.size(); ++k)
        if (int copy = fcntl(pidfd.Get(), F_DUPFD_CLOEXEC, 0); copy >= 0)
            found[matches[k]].push_back(ProcessHandle::Adopt({copy}, pid, false));
    found[matches.front()].push_back(ProcessHandle::Adopt({pidfd.Release()}, pid, false));
}

} // namespace

std::vector<ProcessHandle> FindProcessesByTitle(const std::string& title, const std::string& workingDirectory) {
    return std::move(FindProcessesByTitles({{title, workingDirectory}}).front());
}

std::vector<std::vector<ProcessHandle>>
FindProcessesByTitles(const std::vector<std::pair<std::string, std::string>>& wanted) {
    std::vector<std::vector<ProcessHandle>> found(wanted.size());
    std::vector<std::string> titleEntries;
    std::map<std::string, std::vector<std::size_t>> directories;
    CDirectoryResolver resolver;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        titleEntries.push_back(detail::ConsoleTitleEntry(wanted[i].first));
        if (std::string directory = resolver.Resolve(wanted[i].second); !directory.empty())
            directories[directory].push_back(i);
    }
    if (directories.empty())
        return found;
    const pid_t self = getpid();
    for (pid_t pid : detail::ListProcesses())
        if (pid != self)
            OpenIfClient(pid, titleEntries, directories, found);
    return found;
}

} // namespace vantrel::platform
