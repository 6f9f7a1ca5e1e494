#include "winui/win32.h"
#include "winui/winwindowplace.h"

#include "platform/fileops.h"
#include "winui/wincopychannel.h"

#include <cstdlib>

namespace vantrel {

namespace {

constexpr const char* kPlaceKey = "placement";

} // namespace

std::string WindowPlacePath() {
    const char* appData = std::getenv("APPDATA");
    if (appData == nullptr || *appData == '\0')
        return {};
    return platform::JoinPath(platform::JoinPath(appData, "Vantrel"), "windows.ini");
}

bool RestoreWindowPlace(HWND window, const std::string& programDir) {
    const std::string path = WindowPlacePath();
    if (path.empty() || !platform::IsRegularFile(path))
        return false;
    RECT place{};
    const std::string section = CWinCopyChannel::DirectoryKey(programDir);
    if (!::GetPrivateProfileStructA(section.c_str(), kPlaceKey, &place, sizeof place, path.c_str()))
        return false;
    // A monitor unplugged since: the system's own place is better than one nobody sees.
    if (::MonitorFromRect(&place, MONITOR_DEFAULTTONULL) == nullptr)
        return false;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!::GetWindowPlacement(window, &placement))
        return false;
    // Only the place: the size is the dialog's own, and it stays hidden until the start shows it.
    const LONG width = placement.rcNormalPosition.right - placement.rcNormalPosition.left;
    const LONG height = placement.rcNormalPosition.bottom - placement.rcNormalPosition.top;
    placement.rcNormalPosition = {place.left, place.top, place.left + width, place.top + height};
    placement.showCmd = ::IsWindowVisible(window) ? SW_SHOWNA : SW_HIDE;
    placement.flags = 0;
    return ::SetWindowPlacement(window, &placement) != 0;
}

bool SaveWindowPlace(HWND window, const std::string& programDir) {
    const std::string path = WindowPlacePath();
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (path.empty() || !::GetWindowPlacement(window, &placement))
        return false;
    platform::MakeDirectory(platform::DirectoryPart(path));
    const std::string section = CWinCopyChannel::DirectoryKey(programDir);
    // The directory itself, so a person reading the file knows which copy a section belongs to.
    ::WritePrivateProfileStringA(section.c_str(), "directory", programDir.c_str(), path.c_str());
    return ::WritePrivateProfileStructA(section.c_str(), kPlaceKey, &placement.rcNormalPosition,
                                        sizeof placement.rcNormalPosition, path.c_str()) != 0;
}

} // namespace vantrel
