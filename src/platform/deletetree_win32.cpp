#include "platform/detail_win32.h"

#include "platform/fileops.h"

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

struct Level {
    std::string path;
    std::vector<std::string> subdirectories;
};

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
    // Depth first without recursion: each level keeps the subdirectories still to visit.
    std::vector<Level> stack;
    stack.push_back({path, ClearFiles(path)});
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.subdirectories.empty()) {
            DeleteEntry(top.path, ::GetFileAttributesW(WidePath(top.path).c_str()) & ~DWORD{FILE_ATTRIBUTE_REPARSE_POINT});
            stack.pop_back();
            continue;
        }
        std::string next = std::move(top.subdirectories.back());
        top.subdirectories.pop_back();
        auto below = ClearFiles(next);
        stack.push_back({std::move(next), std::move(below)});
    }
}

} // namespace vantrel::platform
