#include "winui/win32.h"
#include "winui/winaboutdlg.h"

#include "platform/system.h"
#include "winui/resource.h"

#include <cstdio>
#include <vector>

namespace vantrel {

namespace {

// The README beside the program, the page an offline program can always open.
std::string HomePage() {
    const std::string own = platform::GetOwnExecutablePath();
    const std::size_t slash = own.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : own.substr(0, slash + 1)) + "README.md";
}

INT_PTR CALLBACK AboutProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ::SetDlgItemTextA(hWnd, IDC_VERSION_LINE, ReadVersionLine(platform::GetOwnExecutablePath()).c_str());
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_HOME_PAGE:
            ::ShellExecuteA(hWnd, "open", HomePage().c_str(), nullptr, "", SW_SHOWNORMAL);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            ::EndDialog(hWnd, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

} // namespace

std::string ReadVersionLine(const std::string& executable) {
    DWORD unused = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(executable.c_str(), &unused);
    if (size == 0)
        return "Vantrel Version UNKNOWN";
    std::vector<char> block(size);
    char line[64];
    if (!::GetFileVersionInfoA(executable.c_str(), 0, size, block.data())) {
        std::snprintf(line, sizeof line, "Vantrel Version Error: %lu", ::GetLastError());
        return line;
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr)
        return "Vantrel Version UNKNOWN";
    std::snprintf(line, sizeof line, "Vantrel %u.%u.%u.%u", HIWORD(info->dwProductVersionMS),
                  LOWORD(info->dwProductVersionMS), HIWORD(info->dwProductVersionLS), LOWORD(info->dwProductVersionLS));
    std::string text = line;
    if ((info->dwFileFlags & VS_FF_PRERELEASE) != 0)
        text += " BETA";
    return text;
}

void ShowAboutBox(HWND owner) {
    ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, &AboutProc, 0);
}

} // namespace vantrel
