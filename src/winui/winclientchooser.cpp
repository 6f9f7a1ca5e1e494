#include "winui/win32.h"
#include "winui/winclientchooser.h"

#include <commdlg.h>

#include <vector>

namespace vantrel {

namespace {

constexpr char kClientFilter[] = "ORVA CLI (ORVA*.exe)\0ORVA*.exe\0All Files (*.*)\0*.*\0";

// The Open File dialog for one existing client; empty when cancelled.
std::string AskForFile(HWND owner, const char* title, const std::string& directory, DWORD flags) {
    // Room for a long path: the dialog says so when the name does not fit.
    std::vector<char> file(32768, '\0');
    constexpr char kInitialName[] = "ORVA*.exe";
    std::copy(std::begin(kInitialName), std::end(kInitialName), file.begin());
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = kClientFilter;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = directory.c_str();
    dialog.lpstrTitle = title;
    dialog.lpstrDefExt = "exe";
    dialog.Flags = flags | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameA(&dialog))
        return {};
    return file.data();
}

} // namespace

std::string CWinClientChooser::AskForClient(const std::string& programDir) {
    return AskForFile(nullptr, "Vantrel - Select CLI Client", programDir, OFN_NONETWORKBUTTON);
}

void CWinClientChooser::ShowMessage(const std::string& text, bool error) {
    ::MessageBoxA(nullptr, text.c_str(), "Vantrel", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

std::string AskForNewClient(HWND owner, const std::string& programDir) {
    return AskForFile(owner, "Vantrel - Select New CLI Client", programDir, 0);
}

} // namespace vantrel
