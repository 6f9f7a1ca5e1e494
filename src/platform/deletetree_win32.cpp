#include "platform/detail_win32.h"

#include "platform/fileops.h"

#include <optional>
#include <vector>

namespace vantrel::platform {

using detail::WidePath;

namespace {

// Deletes a file, or a link or junction as itself: a read-only file is made writable first,
// since the tree is going as a whole.
void DeleteEntry(const std::string& path, DWORD attributes) {
    std::wstring wide = WidePath(path);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(wide.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        ::RemoveDirectoryW(wide.c_str()); // a junction or directory link: the link goes, not its target
    else
        ::DeleteFileW(wide.c_str());
}

// Deletes what is not a real directory in dir and answers its real subdirectories.
std::vector<std::string> ClearFiles(const std::string& dir) {
    std::vector<std::string> subdirectories;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileExW(WidePath(JoinPath(dir, "*")).c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return subdirectories;
    do {
        std::string name = detail::Narrow(found.cFileName);
        if (name.empty() || name == "." || name == "..")
            continue;
        std::string path = JoinPath(dir, name);
        bool realDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                             !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (realDirectory)
            subdirectories.push_back(std::move(path));
        else
            DeleteEntry(path, found.dwFileAttributes);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return subdirectories;
}

// The directory at path opened as itself (a link or junction is not followed) and without delete
// sharing, so that while it is held nobody can rename it or put a junction in its place: the
// paths through it keep leading where they led when it was opened. Invalid when path is no real
// directory now, or cannot be opened.
detail::UniqueHandle HoldRealDirectory(const std::string& path) {
    detail::UniqueHandle held(::CreateFileW(WidePath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (held.IsValid() && (!::GetFileInformationByHandle(held.Get(), &information) ||
                           !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)))
        held.Reset();
    return held;
}

struct Level {
    std::string path;
    detail::UniqueHandle held; // this directory, and every one above it on the stack, held
    std::vector<std::string> subdirectories;
};

// Holds the directory and lists it; one that is no real directory any more (swapped for a link or
// a junction since its parent was listed) goes as itself, and nothing of what it leads to.
std::optional<Level> EnterDirectory(const std::string& path) {
    detail::UniqueHandle held = HoldRealDirectory(path);
    if (!held.IsValid()) {
        DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            DeleteEntry(path, attributes);
        return std::nullopt;
    }
    std::vector<std::string> subdirectories = ClearFiles(path);
    return Level{path, std::move(held), std::move(subdirectories)};
}

} // namespace

void DeleteTree(const std::string& path) {
    DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    // The path itself a link, a junction or a mount point: only the name goes.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        DeleteEntry(path, attributes);
        return;
    }
    // Depth first without recursion: each level keeps the subdirectories still to visit, and its
    // directory held until it is empty. It is let go only to be removed, by its name in a parent
    // that is still held, so what goes is at worst a link put there meanwhile, never its target.
    std::vector<Level> stack;
    if (std::optional<Level> root = EnterDirectory(path))
        stack.push_back(std::move(*root));
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.subdirectories.empty()) {
            top.held.Reset();
            const std::string emptied = std::move(top.path);
            stack.pop_back();
            // Removed as a directory whatever is there now: a link goes as itself, a file stays.
            if (DWORD now = ::GetFileAttributesW(WidePath(emptied).c_str()); now != INVALID_FILE_ATTRIBUTES)
                DeleteEntry(emptied, now | FILE_ATTRIBUTE_DIRECTORY);
            continue;
        }
        std::string next = std::move(top.subdirectories.back());
        top.subdirectories.pop_back();
        if (std::optional<Level> below = EnterDirectory(next))
            stack.push_back(std::move(*below));
    }
}

} // namespace vantrel::platform
