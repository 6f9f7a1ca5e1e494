#include "platform/process.h"
#include "platform/process_detail_linux.h"
#include "platform/uniquefd_linux.h"
#include "platform/wait.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <cstdlib>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// A cgroup (v2) of its own for every client, where this program may make one: it holds all the
// client started, also a child that began a session of its own, and ends with it. No controller is
// ever enabled, so the groups only count members.
namespace vantrel::platform::detail {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kClientsFolder = "vantrel-clients";
// Killed processes leave within milliseconds; only one stuck in the kernel keeps its group.
constexpr auto kEmptyLimit = std::chrono::seconds(5);

// mountinfo writes blanks, tabs, newlines and backslashes in a path as \ooo.
std::string Unescape(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            int value = 0;
            auto [end, error] = std::from_chars(text.data() + i + 1, text.data() + i + 4, value, 8);
            if (error == std::errc() && end == text.data() + i + 4) {
                plain.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        plain.push_back(text[i]);
    }
    return plain;
}

// The path of the cgroup a process is in, as the unified hierarchy's "0::" line of
// /proc/PID/cgroup shows it; none on a machine without one.
std::optional<std::string> UnifiedPathOf(const std::string& procFile) {
    std::optional<std::string> text = ReadProcFile(procFile);
    if (!text)
        return std::nullopt;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("0::/"))
            return line.substr(3);
    return std::nullopt;
}

struct Hierarchy {
    std::string mountPoint; // where the cgroup2 file system is mounted
    std::string mountRoot;  // the cgroup that mount shows at its top
};

std::optional<Hierarchy> FindHierarchy(const std::string& own) {
    std::optional<std::string> text = ReadProcFile("/proc/self/mountinfo");
    if (!text)
        return std::nullopt;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        // "ID PARENT MAJ:MIN ROOT MOUNTPOINT OPTIONS [TAGS...] - TYPE SOURCE SUPEROPTIONS"
        std::size_t separator = line.find(" - ");
        if (separator == std::string::npos || !std::string_view(line).substr(separator + 3).starts_with("cgroup2 "))
            continue;
        std::istringstream words(line.substr(0, separator));
        std::string skip, root, mountPoint;
        words >> skip >> skip >> skip >> root >> mountPoint;
        Hierarchy found{Unescape(mountPoint), Unescape(root)};
        // A mount of another part of the tree does not reach our own cgroup.
        if (found.mountRoot == "/" || own == found.mountRoot || own.starts_with(found.mountRoot + "/"))
            return found;
    }
    return std::nullopt;
}

struct ClientsRoot {
    std::string path;     // the folder of the client groups in the mounted file system
    std::string cgroup;   // the same as /proc/PID/cgroup names it
};

// Where client groups go: a folder beside this program in its own cgroup. Empty without a
// cgroup2 hierarchy that holds our cgroup.
const ClientsRoot& Root() {
    static const ClientsRoot root = [] {
        std::optional<std::string> own = UnifiedPathOf("/proc/self/cgroup");
        // A cgroup outside our cgroup namespace shows as "/..": not one we can name.
        if (own && own->find("/..") != std::string::npos)
            own.reset();
        std::optional<Hierarchy> hierarchy = own ? FindHierarchy(*own) : std::nullopt;
        if (!hierarchy)
            return ClientsRoot{};
        std::string inMount = hierarchy->mountRoot == "/" ? *own : own->substr(hierarchy->mountRoot.size());
        std::string base = own->back() == '/' ? *own : *own + "/";
        std::string path = hierarchy->mountPoint + (inMount == "/" ? "" : inMount);
        return ClientsRoot{path + "/" + std::string(kClientsFolder), base + std::string(kClientsFolder)};
    }();
    return root;
}

// The pid of the program that made a group, from its name "PID-COUNTER"; none for another name.
std::optional<pid_t> OwnerOf(std::string_view name) {
    pid_t owner = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), owner);
    if (error != std::errc() || end == name.data() + name.size() || *end != '-' || owner <= 0)
        return std::nullopt;
    return owner;
}

bool IsRunning(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

std::vector<pid_t> MembersOf(const std::string& group) {
    std::vector<pid_t> members;
    std::istringstream lines(ReadProcFile(group + "/cgroup.procs").value_or(""));
    for (pid_t pid = 0; lines >> pid;)
        members.push_back(pid);
    return members;
}

// Whether cgroup.events says nobody is left; a group that is gone counts as empty.
bool IsEmpty(int eventsFd) {
    char buffer[256];
    ssize_t got = pread(eventsFd, buffer, sizeof buffer - 1, 0);
    if (got < 0)
        return errno == ENODEV || errno == ENOENT;
    return std::string_view(buffer, static_cast<std::size_t>(got)).find("populated 0") != std::string_view::npos;
}

// Removes a group and any the client made below it; cgroup folders hold no files to delete.
bool RemoveTree(const fs::path& group) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(group, error))
        if (entry.is_directory(error) && !entry.is_symlink(error))
            RemoveTree(entry.path());
    return rmdir(group.c_str()) == 0 || errno == ENOENT;
}

// Closes every descriptor but the ascending ones in keep. Safe after a fork.
void CloseAllBut(const std::vector<int>& keep) {
    unsigned next = 0;
    for (int fd : keep) {
        const auto own = static_cast<unsigned>(fd);
        if (own > next && close_range(next, own - 1, 0) != 0)
            for (unsigned other = next; other < own; ++other)
                close(static_cast<int>(other));
        next = own + 1;
    }
    if (close_range(next, ~0U, 0) != 0) {
        rlimit limit{};
        const rlim_t end = getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
        for (rlim_t other = next; other < end; ++other)
            close(static_cast<int>(other));
    }
}

// Removes each group once its last process has left, in a process of its own that outlives this
// program: a client may run on after it (a transmit client does, by design) or after it was
// killed. The watcher holds no descriptor of ours but the groups' (never the program directory's
// lock) and leaves once every group is gone. A group the client made groups in stays for the next
// start's sweep.
void RemoveGroupsWhenEmpty(const std::vector<std::string>& groups) {
    std::vector<UniqueFd> events;
    std::vector<std::string> paths;
    for (const std::string& group : groups) {
        UniqueFd fd(open((group + "/cgroup.events").c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.IsValid()) {
            events.push_back(std::move(fd));
            paths.push_back(group);
        }
    }
    if (events.empty())
        return;
    // Everything the watcher uses is made before the fork: another thread may hold the allocator's
    // lock at that moment, so the child makes only system calls.
    std::vector<pollfd> polled;
    std::vector<int> keep;
    for (const UniqueFd& fd : events) {
        polled.push_back({fd.Get(), POLLPRI, 0});
        keep.push_back(fd.Get());
    }
    std::sort(keep.begin(), keep.end());
    const pid_t child = fork();
    if (child == 0) {
        // Its own session, and a grandchild of ours, so it is nobody's zombie and no signal to our
        // process group reaches it.
        setsid();
        if (fork() != 0)
            _exit(0);
        CloseAllBut(keep);
        std::size_t left = polled.size();
        while (left > 0) {
            for (std::size_t i = 0; i < polled.size(); ++i) {
                if (polled[i].fd >= 0 && IsEmpty(polled[i].fd)) {
                    rmdir(paths[i].c_str());
                    close(polled[i].fd);
                    polled[i].fd = -1;
                    --left;
                }
            }
            // A change of cgroup.events wakes poll with POLLPRI; the timeout only bounds a missed one.
            if (left > 0)
                poll(polled.data(), polled.size(), 1000);
        }
        _exit(0);
    }
    if (child > 0) {
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

// At this program's end, the groups of its clients that still run (a transmit client goes on by
// design) are handed to a watcher that removes each when its client ends.
pid_t g_groupsOwner = 0;
void HandOverOwnGroups() {
    // A forked child that did not exec (a failed start) runs the exit handlers too.
    if (getpid() != g_groupsOwner)
        return;
    const std::string prefix = std::to_string(getpid()) + "-";
    std::vector<std::string> populated;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(Root().path, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix) && entry.is_directory(error) && !entry.is_symlink(error) &&
            !RemoveTree(entry.path()))
            populated.push_back(entry.path().string());
    }
    RemoveGroupsWhenEmpty(populated);
}

} // namespace

std::string MakeClientGroup() {
    const ClientsRoot& root = Root();
    if (root.path.empty())
        return {};
    if (mkdir(root.path.c_str(), 0755) != 0 && errno != EEXIST)
        return {};
    static const bool handOver = [] {
        g_groupsOwner = getpid();
        return std::atexit(HandOverOwnGroups) == 0;
    }();
    (void)handOver;
    static std::atomic<unsigned> counter{0};
    // A name may be taken already: by a copy with our pid in another pid namespace, or by an
    // earlier copy that had our pid and left a group that could not be removed.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string group = root.path + "/" + std::to_string(getpid()) + "-" + std::to_string(++counter);
        if (mkdir(group.c_str(), 0755) == 0)
            return group;
        if (errno != EEXIST)
            break;
    }
    return {};
}

std::string ClientGroupOf(pid_t pid) {
    const ClientsRoot& root = Root();
    if (root.path.empty())
        return {};
    std::optional<std::string> path = UnifiedPathOf("/proc/" + std::to_string(pid) + "/cgroup");
    const std::string prefix = root.cgroup + "/";
    if (!path || !path->starts_with(prefix))
        return {};
    // A client may have made groups of its own below its group: the whole group goes.
    std::string leaf = path->substr(prefix.size());
    leaf = leaf.substr(0, leaf.find('/'));
    return leaf.empty() ? std::string() : root.path + "/" + leaf;
}

int KillGroupMembers(const std::string& group) {
    return KillAllFound([&] { return MembersOf(group); }, [&](pid_t pid) { return ClientGroupOf(pid) == group; });
}

bool KillClientGroup(const std::string& group) {
    if (group.empty())
        return false;
    // cgroup.kill (Linux 5.14) reaches a member however fast it forks.
    UniqueFd kill(open((group + "/cgroup.kill").c_str(), O_WRONLY | O_CLOEXEC));
    if (kill.IsValid() && write(kill.Get(), "1", 1) == 1)
        return true;
    KillGroupMembers(group);
    return false;
}

bool RemoveClientGroup(const std::string& group) {
    if (group.empty())
        return true;
    UniqueFd events(open((group + "/cgroup.events").c_str(), O_RDONLY | O_CLOEXEC));
    if (!events.IsValid())
        return errno == ENOENT;
    // A change of cgroup.events wakes poll with POLLPRI.
    const CWaitDeadline deadline(kEmptyLimit);
    while (!IsEmpty(events.Get())) {
        if (deadline.Passed())
            return false;
        pollfd wake{events.Get(), POLLPRI, 0};
        poll(&wake, 1, std::min(*deadline.Left(), 100));
    }
    return RemoveTree(group);
}

} // namespace vantrel::platform::detail

namespace vantrel::platform {

int RemoveLeftoverClientGroups() {
    const std::string& root = detail::Root().path;
    if (root.empty())
        return 0;
    int removed = 0;
    std::vector<std::string> populated;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
        // A group of a copy that still runs may be about to take its client.
        std::optional<pid_t> owner = detail::OwnerOf(entry.path().filename().string());
        if (!owner || *owner == getpid() || detail::IsRunning(*owner) || !entry.is_directory(error) ||
            entry.is_symlink(error))
            continue;
        if (detail::RemoveTree(entry.path()))
            ++removed;
        else
            populated.push_back(entry.path().string());
    }
    // A client of a copy that was killed may still run: its group goes when it ends, not a start later.
    detail::RemoveGroupsWhenEmpty(populated);
    return removed;
}

} // namespace vantrel::platform
