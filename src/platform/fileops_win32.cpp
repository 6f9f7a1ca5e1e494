#include "platform/detail_win32.h"

#include "platform/fileops.h"

#include <cstdio>
#include <io.h>
#include <random>

// The wide forms of the file calls are used: they are the ANSI ones without the 260-character
// limit (see WidePath).
namespace vantrel::platform {

using detail::UniqueHandle;
using detail::WidePath;

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The attributes of the name itself (a link or junction is not followed); none when absent.
std::optional<DWORD> AttributesOf(const std::string& path) {
    DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return attributes;
}

// The file itself, opened for reading its attributes; follow decides whether a link is followed.
UniqueHandle OpenForQuery(const std::string& path, bool follow) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return UniqueHandle(::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      flags, nullptr));
}

std::optional<BY_HANDLE_FILE_INFORMATION> InformationOf(const std::string& path) {
    UniqueHandle file = OpenForQuery(path, true);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.IsValid() || !::GetFileInformationByHandle(file.Get(), &info))
        return std::nullopt;
    return info;
}

// A name beside target that no one else uses: ".<name>.tmp-<random>".
std::string TemporaryNameBeside(const std::string& target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", static_cast<unsigned long long>(random()));
    return JoinPath(DirectoryPart(target), "." + FileNamePart(target) + suffix);
}

bool WriteAllTo(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data.data(), chunk, &written, nullptr))
            return false;
        data.remove_prefix(written);
    }
    return true;
}

// Writes data (or what source holds) into a fresh temporary file beside target and moves it
// into place; with noReplace the move fails when the target exists.
bool ReplaceWith(const std::string& target, std::string_view data, bool noReplace, HANDLE source = nullptr) {
    std::string temp = TemporaryNameBeside(target);
    std::wstring wideTemp = WidePath(temp);
    UniqueHandle out(::CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!out.IsValid())
        return false;
    bool ok = true;
    if (source != nullptr) {
        std::string buffer(65536, '\0');
        for (DWORD got = 0; ok; ) {
            ok = ::ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) != 0;
            if (!ok || got == 0)
                break;
            ok = WriteAllTo(out.Get(), std::string_view(buffer.data(), got));
        }
    } else {
        ok = WriteAllTo(out.Get(), data);
    }
    ok = ok && ::FlushFileBuffers(out.Get());
    out.Reset();
    DWORD flags = MOVEFILE_WRITE_THROUGH | (noReplace ? 0 : MOVEFILE_REPLACE_EXISTING);
    ok = ok && ::MoveFileExW(wideTemp.c_str(), WidePath(target).c_str(), flags);
    if (!ok)
        ::DeleteFileW(wideTemp.c_str());
    return ok;
}

// A regular file opened for reading: a device, pipe or directory under the name is refused. A
// client may delete or replace the file while we read it (its work unit when it finishes), so the
// read shares deletion too.
UniqueHandle OpenRegularForReading(const std::string& path) {
    UniqueHandle file(::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.IsValid() && ::GetFileType(file.Get()) != FILE_TYPE_DISK)
        file.Reset();
    return file;
}

} // namespace

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(data.size(), 1u << 30));
        int written = ::_write(fd, data.data(), chunk);
        if (written < 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (path.empty() || !IsSeparator(path.back()))
        path += '\\';
    path += name;
    return path;
}

std::string FileNamePart(std::string_view path) {
    auto slash = path.find_last_of("\\/");
    if (slash == std::string_view::npos && path.size() >= 2 && path[1] == ':')
        return std::string(path.substr(2));
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string DirectoryPart(std::string_view path) {
    auto slash = path.find_last_of("\\/");
    if (slash == std::string_view::npos)
        return path.size() >= 2 && path[1] == ':' ? std::string(path.substr(0, 2)) : std::string();
    // The root of a drive ("C:\") or of the current drive ("\") keeps its separator.
    if (slash == 0 || (slash == 2 && path[1] == ':'))
        return std::string(path.substr(0, slash + 1));
    return std::string(path.substr(0, slash));
}

bool PathExists(const std::string& path) {
    return AttributesOf(path).has_value();
}

bool IsDirectory(const std::string& path) {
    auto attributes = AttributesOf(path);
    return attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) && !(*attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsRegularFile(const std::string& path) {
    auto info = InformationOf(path);
    return info && !(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<DirEntry> ListDirectory(const std::string& dir, const std::string& pattern) {
    std::vector<DirEntry> entries;
    WIN32_FIND_DATAW found{};
    // FindFirstFile matches the wildcard itself, ignoring case as Windows does.
    HANDLE search = ::FindFirstFileExW(WidePath(JoinPath(dir, pattern)).c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        std::string name = detail::Narrow(found.cFileName);
        if (name.empty() || name == "." || name == "..")
            continue;
        bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                           !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        entries.push_back({std::move(name), isDirectory});
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return entries;
}

bool MakeDirectory(const std::string& path) {
    return ::CreateDirectoryW(WidePath(path).c_str(), nullptr);
}

bool RemoveDirectory(const std::string& path) {
    return ::RemoveDirectoryW(WidePath(path).c_str());
}

bool DeleteFile(const std::string& path) {
    return ::DeleteFileW(WidePath(path).c_str());
}

bool MoveFile(const std::string& from, const std::string& to) {
    // MoveFile fails when the target exists, also an empty directory.
    return ::MoveFileW(WidePath(from).c_str(), WidePath(to).c_str());
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
    UniqueHandle in = OpenRegularForReading(from);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!in.IsValid() || !::GetFileInformationByHandle(in.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (failIfExists && PathExists(to))
        return false;
    return ReplaceWith(to, {}, failIfExists, in.Get());
}

bool CreateEmptyFile(const std::string& path) {
    if (auto attributes = AttributesOf(path); attributes && (*attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    UniqueHandle file(::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK)
        return false;
    return ::SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN) == 0 && ::SetEndOfFile(file.Get());
}

bool SetFileBeneath(const std::string& base, std::string_view relative, bool present) {
    // Each directory on the way is checked not to be a link or junction before the next step.
    std::string path = base;
    std::size_t slash = 0;
    while ((slash = relative.find_first_of("\\/")) != std::string_view::npos) {
        path = JoinPath(path, relative.substr(0, slash));
        if (!IsDirectory(path))
            return false;
        relative.remove_prefix(slash + 1);
    }
    if (relative.empty())
        return false;
    path = JoinPath(path, relative);
    if (present)
        return CreateEmptyFile(path);
    return DeleteFile(path);
}

bool IsUsableDirectory(const std::string& path) {
    if (!IsDirectory(path))
        return false;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileExW(WidePath(JoinPath(path, "*")).c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(search);
    return true;
}

std::optional<std::int64_t> LastWriteTime(const std::string& path) {
    auto info = InformationOf(path);
    if (!info)
        return std::nullopt;
    // 100-nanosecond steps since 1601 to seconds since 1970.
    ULARGE_INTEGER time{};
    time.LowPart = info->ftLastWriteTime.dwLowDateTime;
    time.HighPart = info->ftLastWriteTime.dwHighDateTime;
    return static_cast<std::int64_t>(time.QuadPart / 10000000ULL) - 11644473600LL;
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
    auto info = InformationOf(path);
    if (!info)
        return std::nullopt;
    return (static_cast<std::uint64_t>(info->nFileSizeHigh) << 32) | info->nFileSizeLow;
}

std::optional<std::string> ReadFileText(const std::string& path, std::size_t maxBytes) {
    UniqueHandle file = OpenRegularForReading(path);
    if (!file.IsValid())
        return std::nullopt;
    std::string text;
    std::string buffer(65536, '\0');
    while (text.size() < maxBytes) {
        DWORD want = static_cast<DWORD>(std::min(buffer.size(), maxBytes - text.size()));
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer.data(), want, &got, nullptr))
            return std::nullopt;
        if (got == 0)
            break;
        text.append(buffer.data(), got);
    }
    return text;
}

bool WriteFileAtomically(const std::string& path, std::string_view data, unsigned /*mode*/) {
    return ReplaceWith(path, data, false);
}

bool IsSameFile(const std::string& a, const std::string& b) {
    auto ia = InformationOf(a);
    auto ib = InformationOf(b);
    return ia && ib && ia->dwVolumeSerialNumber == ib->dwVolumeSerialNumber &&
           ia->nFileIndexHigh == ib->nFileIndexHigh && ia->nFileIndexLow == ib->nFileIndexLow;
}

} // namespace vantrel::platform
