#include "packagingtest.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include "platform/uniquefd_linux.h"

extern char** environ;

namespace vantrel::test {

namespace {

std::string EntryName(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> MergeEnvironment(const std::vector<std::string>& extraEnv) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string inherited(*entry);
        bool replaced = std::any_of(extraEnv.begin(), extraEnv.end(),
                                    [&](const std::string& extra) { return EntryName(extra) == EntryName(inherited); });
        if (!replaced)
            merged.push_back(std::move(inherited));
    }
    merged.insert(merged.end(), extraEnv.begin(), extraEnv.end());
    return merged;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[8192];
    for (off_t offset = 0;;) {
        ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(got));
        offset += got;
    }
}

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&m_actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

} // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::vector<std::string>& extraEnv) {
    CommandResult result;
    // The output goes to an anonymous file: a pipe could fill up while nobody reads it.
    platform::UniqueFd output(::memfd_create("command-output", MFD_CLOEXEC));
    if (argv.empty() || !output.IsValid())
        return result;
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.Get(), output.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.Get(), output.Get(), STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(actions.Get(), cwd.c_str());

    std::vector<std::string> args = argv;
    std::vector<std::string> env = MergeEnvironment(extraEnv);
    std::vector<char*> argPointers = CStrings(args);
    std::vector<char*> envPointers = CStrings(env);
    pid_t pid = 0;
    int error = posix_spawn(&pid, args[0].c_str(), actions.Get(), nullptr, argPointers.data(), envPointers.data());
    if (error != 0) {
        result.output = args[0] + ": " + std::strerror(error);
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.output = ReadAll(output.Get());
    return result;
}

std::vector<std::string> ListFilesBelow(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_directory(error) || it->is_symlink(error))
            files.push_back(fs::relative(it->path(), root).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<int> ExpectedIconSizes() {
    return {16, 22, 24, 32, 48, 64, 128, 256};
}

std::vector<std::string> ExpectedInstalledFiles() {
    std::vector<std::string> files = {
        "bin/vantrel",
        "lib/systemd/user/vantrel-headless.service",
        "libexec/vantrel/ORVA_sim_cmdline.exe",
        "libexec/vantrel/vantrel-headless",
        "share/applications/vantrel.desktop",
        "share/doc/vantrel/README.md",
        "share/icons/hicolor/scalable/apps/vantrel.svg",
    };
    for (int size : ExpectedIconSizes()) {
        std::string folder = std::to_string(size) + "x" + std::to_string(size);
        files.push_back("share/icons/hicolor/" + folder + "/apps/vantrel.png");
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::map<std::string, std::string> ReadDesktopEntry(const std::string& path) {
    std::map<std::string, std::string> entry;
    std::ifstream in(path);
    bool inGroup = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with('['))
            inGroup = line == "[Desktop Entry]";
        else if (std::size_t equals = line.find('='); inGroup && equals != std::string::npos && !line.starts_with('#'))
            entry[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return entry;
}

} // namespace vantrel::test
