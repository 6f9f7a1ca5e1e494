#include "platform/process_detail_win32.h"

#include "platform/fileops.h"
#include "platform/process.h"

#include <algorithm>
#include <cctype>
#include <process.h>

namespace vantrel::platform {

namespace {

struct WindowSearch {
    std::vector<DWORD> owners;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (std::find(search->owners.begin(), search->owners.end(), owner) != search->owners.end())
        search->found.push_back(window);
    return TRUE;
}

} // namespace

bool IsExecutableFile(const std::string& path) {
    // What CreateProcess runs as a program of its own: an .exe or .com file.
    std::string name = FileNamePart(path);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return (name.ends_with(".exe") || name.ends_with(".com")) && IsRegularFile(path);
}

bool AllowOwnerToExecute(const std::string& path) {
    // Windows has no execute bit: a regular file of the user's is executable as it is.
    return IsRegularFile(path);
}

bool ShowProcessWindow(const ProcessHandle& process, std::uint16_t showCommand) {
    if (!process.IsValid() || !process.IsAlive())
        return false;
    // The windows the client itself owns; a console that the system's console host owns instead
    // is out of reach here.
    WindowSearch search;
    search.owners.push_back(static_cast<DWORD>(process.Pid()));
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.found)
        ::ShowWindowAsync(window, showCommand);
    return !search.found.empty();
}

ProcessId CurrentProcessId() {
    return static_cast<ProcessId>(::GetCurrentProcessId());
}

void ReplaceCurrentProgram(const std::string& path, char** argv) {
    // Windows cannot swap the program of a process: the runtime starts the new one and ends
    // this one, returning only when the start fails (errno says why).
    ::_execv(path.c_str(), argv);
}

} // namespace vantrel::platform
