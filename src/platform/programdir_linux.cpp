#include "platform/programdir.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/fileops.h"

namespace vantrel::platform {

namespace {

bool IsSystemDirectory(const std::string& dir) {
    constexpr std::array<std::string_view, 6> kSystem = {"/usr", "/bin", "/sbin", "/lib", "/opt", "/snap"};
    for (std::string_view prefix : kSystem)
        if (dir == prefix || dir.starts_with(std::string(prefix) + "/"))
            return true;
    return false;
}

// A directory the user owns and may write, outside the system's own directories.
bool IsUsersDirectory(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && !IsSystemDirectory(dir) && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && ::access(dir.c_str(), W_OK) == 0;
}

// The home directory the password database gives the user, for a start without HOME.
std::string PasswordHome() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/' ? found->pw_dir : "";
}

// A directory that only the user can fill: the user's own, and no one else may write it. Anyone
// could have made a directory of that name first and put a client of theirs into it.
bool IsPrivateDirectory(const std::string& dir) {
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Empty when the user has no home directory to keep the cache in.
std::string UsersDataDirectory() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        base = JoinPath(home, ".local/share");
    else if (std::string passwordHome = PasswordHome(); !passwordHome.empty())
        base = JoinPath(passwordHome, ".local/share");
    else
        return {};
    std::string dir = JoinPath(base, "vantrel");
    // Create the chain owner-only; an existing directory is left as it is.
    std::string partial;
    for (std::size_t pos = 1; pos != std::string::npos;) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        ::mkdir(partial.c_str(), 0700);
    }
    return IsPrivateDirectory(dir) ? dir : std::string();
}

// path without its "." parts and doubled slashes, as "./vantrel" gives them; ".." stays, since
// through a symbolic link it need not lead where the text says.
std::string WithoutDotParts(const std::string& path) {
    std::filesystem::path tidy;
    for (const std::filesystem::path& part : std::filesystem::path(path))
        if (part != "." && !part.empty())
            tidy /= part;
    return tidy.empty() ? path : tidy.string();
}

// The absolute form of path without resolving symbolic links.
std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return WithoutDotParts(path);
    std::string cwd(4096, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE)
            return path;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(cwd.find('\0'));
    return WithoutDotParts(JoinPath(cwd, path));
}

} // namespace

ProgramLocation ResolveProgramLocation(const std::string& argv0, const std::string& executablePath) {
    ProgramLocation location;
    location.fileName = FileNamePart(executablePath);
    if (const char* forced = std::getenv("VANTREL_PROGRAM_DIR"); forced != nullptr && forced[0] != '\0') {
        location.directory = Absolute(forced);
        while (location.directory.size() > 1 && location.directory.back() == '/')
            location.directory.pop_back();
        return location;
    }
    // Started through a path (maybe a link in the user's own directory).
    if (argv0.find('/') != std::string::npos) {
        std::string started = Absolute(argv0);
        std::string dir = DirectoryPart(started);
        if (IsUsersDirectory(dir)) {
            location.directory = dir;
            location.fileName = FileNamePart(started);
            return location;
        }
    }
    std::string exeDir = DirectoryPart(executablePath);
    location.directory = IsUsersDirectory(exeDir) ? exeDir : UsersDataDirectory();
    return location;
}

} // namespace vantrel::platform
