#include "platform/fileops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/uniquefd_linux.h"

namespace vantrel::platform {

namespace {

// One directory on the way down: which it is, its name in its parent, and the subdirectories
// still to be deleted. Only names are kept, never descriptors, so the depth costs memory alone.
struct Level {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    std::vector<std::string> subdirectories;
};

bool IsSubdirectory(int dirFd, const struct dirent& entry) {
    if (entry.d_type != DT_UNKNOWN)
        return entry.d_type == DT_DIR;
    struct stat st {};
    return ::fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

// Deletes every entry of the directory open as dirFd that is not a directory (a link goes as a
// link) and returns the names of its subdirectories.
std::vector<std::string> DeleteFilesListSubdirectories(int dirFd) {
    std::vector<std::string> subdirectories;
    std::vector<std::string> files;
    int listFd = ::dup(dirFd);
    if (listFd < 0)
        return subdirectories;
    DirPtr handle(::fdopendir(listFd));
    if (!handle) {
        ::close(listFd);
        return subdirectories;
    }
    while (struct dirent* entry = ::readdir(handle.get())) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        (IsSubdirectory(dirFd, *entry) ? subdirectories : files).emplace_back(name);
    }
    handle.reset();
    for (const std::string& file : files)
        ::unlinkat(dirFd, file.c_str(), 0);
    return subdirectories;
}

// Opens a subdirectory of dirFd for the walk, never through a link.
UniqueFd OpenSubdirectory(int dirFd, const char* name) {
    return UniqueFd(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

} // namespace

void DeleteTree(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    UniqueFd current = OpenSubdirectory(AT_FDCWD, trimmed.c_str());
    struct stat st {};
    if (!current.IsValid() || ::fstat(current.Get(), &st) != 0)
        return;
    const dev_t device = st.st_dev;

    // Depth first without recursion: one descriptor for the directory we are in, one more while
    // stepping down or up.
    std::vector<Level> levels;
    levels.push_back({st.st_dev, st.st_ino, {}, DeleteFilesListSubdirectories(current.Get())});
    for (;;) {
        Level& level = levels.back();
        if (!level.subdirectories.empty()) {
            std::string name = std::move(level.subdirectories.back());
            level.subdirectories.pop_back();
            UniqueFd child = OpenSubdirectory(current.Get(), name.c_str());
            if (!child.IsValid() || ::fstat(child.Get(), &st) != 0 || st.st_dev != device) {
                // Unreadable (it may still be empty) or a mount point: removed only when empty.
                ::unlinkat(current.Get(), name.c_str(), AT_REMOVEDIR);
                continue;
            }
            Level next{st.st_dev, st.st_ino, std::move(name), DeleteFilesListSubdirectories(child.Get())};
            current = std::move(child);
            levels.push_back(std::move(next));
            continue;
        }
        if (levels.size() == 1)
            break;
        // Back up through "..", which must still be the directory we came down from: had someone
        // moved this directory elsewhere meanwhile, ".." would lead out of the tree.
        std::string name = std::move(level.name);
        levels.pop_back();
        UniqueFd parent(::openat(current.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!parent.IsValid() || ::fstat(parent.Get(), &st) != 0 || st.st_dev != levels.back().device ||
            st.st_ino != levels.back().inode)
            return;
        current = std::move(parent);
        ::unlinkat(current.Get(), name.c_str(), AT_REMOVEDIR);
    }
    current.Reset();
    ::rmdir(trimmed.c_str());
}

} // namespace vantrel::platform
