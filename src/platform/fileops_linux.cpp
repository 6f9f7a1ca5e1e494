#include "platform/fileops.h"
#include "platform/fileops_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/uniquefd_linux.h"

namespace vantrel::platform {

namespace {

// A name beside target that no one else uses: ".<name>.tmp-<random>".
std::string TemporaryNameBeside(const std::string& target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(random()));
    return JoinPath(DirectoryPart(target), "." + FileNamePart(target) + suffix);
}

// Renames without ever replacing what is at `to`. Some file systems (NFS, many FUSE ones) refuse
// RENAME_NOREPLACE with EINVAL: there the name is taken first, by a hard link for a file (which
// fails when the name exists) or by an exclusively made placeholder that the rename then
// replaces, and the old name goes afterwards.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
        if (errno == EEXIST)
            return false;
        UniqueFd placeholder(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (placeholder.Get() < 0)
            return false;
    } else if (::mkdir(to.c_str(), 0700) != 0) {
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    // Only our own placeholder is removed again.
    if (S_ISDIR(st.st_mode))
        ::rmdir(to.c_str());
    else
        ::unlink(to.c_str());
    return false;
}

// Writes data into a fresh temporary file beside target and renames it into place. With
// noReplace the rename fails when the target exists.
bool ReplaceWith(const std::string& target, std::string_view data, unsigned mode, bool noReplace,
                 int sourceFd = -1) {
    std::string temp = TemporaryNameBeside(target);
    UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (out.Get() < 0)
        return false;
    bool ok = true;
    if (sourceFd >= 0) {
        char buffer[65536];
        for (;;) {
            ssize_t got = ::read(sourceFd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                ok = false;
                break;
            }
            if (got == 0)
                break;
            if (!WriteAll(out.Get(), std::string_view(buffer, static_cast<std::size_t>(got)))) {
                ok = false;
                break;
            }
        }
    } else {
        ok = WriteAll(out.Get(), data);
    }
    ok = ok && ::fsync(out.Get()) == 0;
    ok = ::close(out.Release()) == 0 && ok;
    if (ok) {
        ok = noReplace ? RenameNoReplace(temp, target) : ::rename(temp.c_str(), target.c_str()) == 0;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

} // namespace

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

std::string FileNamePart(std::string_view path) {
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string DirectoryPart(std::string_view path) {
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<DirEntry> ListDirectory(const std::string& dir, const std::string& pattern) {
    std::vector<DirEntry> entries;
    DirPtr handle(::opendir(dir.c_str()));
    if (!handle)
        return entries;
    while (struct dirent* entry = ::readdir(handle.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0)
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN)
            isDirectory = IsDirectory(JoinPath(dir, name));
        entries.push_back({std::move(name), isDirectory});
    }
    return entries;
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool RemoveDirectory(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool MoveFile(const std::string& from, const std::string& to) {
    return RenameNoReplace(from, to);
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
    // Non-blocking: a FIFO under the name would otherwise wait for a writer for ever. Regular files
    // ignore the flag.
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (in.Get() < 0)
        return false;
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (failIfExists && PathExists(to))
        return false;
    return ReplaceWith(to, {}, st.st_mode & 07777, failIfExists, in.Get());
}

namespace {

// Opens name in dirFd to create or truncate it as an empty regular file; a FIFO without a reader
// fails at once instead of waiting, and any other special file is left alone.
bool CreateEmptyFileAt(int dirFd, const char* name) {
    UniqueFd fd(::openat(dirFd, name, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666));
    struct stat st {};
    return fd.IsValid() && ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd.Get(), 0) == 0;
}

} // namespace

bool CreateEmptyFile(const std::string& path) {
    return CreateEmptyFileAt(AT_FDCWD, path.c_str());
}

bool SetFileBeneath(const std::string& base, std::string_view relative, bool present) {
    UniqueFd dir(::open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::size_t slash = 0;
    while (dir.IsValid() && (slash = relative.find('/')) != std::string_view::npos) {
        std::string component(relative.substr(0, slash));
        dir = UniqueFd(::openat(dir.Get(), component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        relative.remove_prefix(slash + 1);
    }
    if (!dir.IsValid() || relative.empty())
        return false;
    std::string name(relative);
    if (present)
        return CreateEmptyFileAt(dir.Get(), name.c_str());
    return ::unlinkat(dir.Get(), name.c_str(), 0) == 0;
}

bool IsUsableDirectory(const std::string& path) {
    return IsDirectory(path) && ::faccessat(AT_FDCWD, path.c_str(), R_OK | X_OK, AT_EACCESS) == 0;
}

std::optional<std::int64_t> LastWriteTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::string> ReadFileText(const std::string& path, std::size_t maxBytes) {
    // Non-blocking open and a regular-file check: a FIFO or device under the name never hangs us.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.Get() < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::string text;
    char buffer[65536];
    while (text.size() < maxBytes) {
        ssize_t got = ::read(fd.Get(), buffer, std::min(sizeof buffer, maxBytes - text.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned mode) {
    // A file the user keeps behind a symbolic link is written where the link points, and the link
    // stays.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> target(::realpath(path.c_str(), nullptr), &std::free);
        if (target)
            return ReplaceWith(target.get(), data, mode, false);
    }
    return ReplaceWith(path, data, mode, false);
}

namespace {

// dir opened without following a link, when it is a directory this user owns; made 0700 if missing.
UniqueFd OpenOwnDirectory(const std::string& dir, bool create) {
    if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0 || st.st_uid != ::getuid())
        return {};
    return fd;
}

} // namespace

bool WriteFileInOwnDirectory(const std::string& dir, std::string_view name, std::string_view data, unsigned mode) {
    UniqueFd dirFd = OpenOwnDirectory(dir, true);
    if (!dirFd.IsValid())
        return false;
    const std::string target(name);
    const std::string temp = FileNamePart(TemporaryNameBeside(JoinPath(dir, name)));
    UniqueFd out(::openat(dirFd.Get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!out.IsValid())
        return false;
    bool ok = WriteAll(out.Get(), data) && ::fsync(out.Get()) == 0;
    ok = ::close(out.Release()) == 0 && ok;
    ok = ok && ::renameat(dirFd.Get(), temp.c_str(), dirFd.Get(), target.c_str()) == 0;
    if (!ok)
        ::unlinkat(dirFd.Get(), temp.c_str(), 0);
    return ok;
}

bool DeleteFileInOwnDirectory(const std::string& dir, std::string_view name) {
    UniqueFd dirFd = OpenOwnDirectory(dir, false);
    struct stat st {};
    if (!dirFd.IsValid())
        return ::lstat(dir.c_str(), &st) != 0 && errno == ENOENT;
    const std::string target(name);
    return ::unlinkat(dirFd.Get(), target.c_str(), 0) == 0 || errno == ENOENT;
}

bool IsFileInOwnDirectory(const std::string& dir, std::string_view name) {
    UniqueFd dirFd = OpenOwnDirectory(dir, false);
    struct stat st {};
    const std::string target(name);
    return dirFd.IsValid() && ::fstatat(dirFd.Get(), target.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsPrivateDirectory(const std::string& dir) {
    struct stat info {};
    return ::lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & 077) == 0;
}

bool MakePrivateDirectory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // Opened without following a link, so the checks and the narrowing apply to what we opened.
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.IsValid())
        return false;
    struct stat info {};
    bool ok = ::fstat(fd.Get(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
    if (ok && (info.st_mode & 077) != 0)
        ok = ::fchmod(fd.Get(), 0700) == 0;
    return ok;
}

bool IsLocalSocket(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

} // namespace vantrel::platform
