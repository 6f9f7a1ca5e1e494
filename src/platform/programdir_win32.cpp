#include "platform/detail_win32.h"

#include "platform/programdir.h"

#include <cstdlib>
#include <shlobj.h>

#include "platform/fileops.h"

namespace vantrel::platform {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Whether dir is path or lies beneath it, ignoring case and the kind of separator.
bool IsWithin(std::string dir, std::string path) {
    if (path.empty())
        return false;
    for (std::string* text : {&dir, &path})
        for (char& c : *text)
            c = c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return dir == path || (dir.starts_with(path) && (path.back() == '\\' || dir[path.size()] == '\\'));
}

// Program Files, where an installer puts the program and an ordinary user may not write.
bool IsInstalledLocation(const std::string& dir) {
    for (const char* name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"})
        if (IsWithin(dir, Environment(name)))
            return true;
    return false;
}

// Whether this user may make files in dir: a file is made there and goes again at once.
bool IsWritableDirectory(const std::string& dir) {
    std::string probe = JoinPath(dir, ".vantrel-write-probe-" + std::to_string(::GetCurrentProcessId()));
    HANDLE file = ::CreateFileW(detail::WidePath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

// %LOCALAPPDATA%\Vantrel, made when missing; empty when the user has no such folder.
std::string UsersDataDirectory() {
    std::string base = Environment("LOCALAPPDATA");
    if (base.empty()) {
        PWSTR known = nullptr;
        if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &known) == S_OK)
            base = detail::Narrow(known);
        ::CoTaskMemFree(known);
    }
    if (base.empty() || !detail::IsAbsolutePath(base))
        return {};
    std::string dir = JoinPath(base, "Vantrel");
    MakeDirectory(dir);
    return IsDirectory(dir) ? dir : std::string();
}

std::string FullPath(const std::string& path) {
    std::wstring wide = detail::WidePath(path);
    DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    DWORD written = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed)
        return path;
    full.resize(written);
    std::string narrow = detail::Narrow(full);
    if (narrow.starts_with("\\\\?\\UNC\\"))
        return "\\\\" + narrow.substr(8);
    return narrow.starts_with("\\\\?\\") ? narrow.substr(4) : narrow;
}

} // namespace

ProgramLocation ResolveProgramLocation(const std::string& /*argv0*/, const std::string& executablePath) {
    ProgramLocation location;
    location.fileName = FileNamePart(executablePath);
    if (std::string forced = Environment("VANTREL_PROGRAM_DIR"); !forced.empty()) {
        location.directory = FullPath(forced);
        while (location.directory.size() > 3 && (location.directory.back() == '\\' || location.directory.back() == '/'))
            location.directory.pop_back();
        return location;
    }
    // A portable copy keeps everything beside the executable; an installed one, in the user's
    // local application data.
    std::string exeDir = DirectoryPart(FullPath(executablePath));
    bool portable = !exeDir.empty() && !IsInstalledLocation(exeDir) && IsWritableDirectory(exeDir);
    location.directory = portable ? exeDir : UsersDataDirectory();
    return location;
}

} // namespace vantrel::platform
