#include "winui/win32.h"
#include "winui/winclientchooser.h"

#include "platform/fileops.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <vector>

// The system's header makes CopyFile a macro for its ANSI or wide call; here it is ours.
#undef CopyFile

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

bool HasClientCandidate(const std::string& programDir) {
    for (const auto& entry : platform::ListDirectory(programDir, "ORVA*.exe"))
        if (!entry.isDirectory)
            return true;
    return false;
}

// Where a downloaded client most likely is: the user's Downloads folder, else the profile.
std::string FirstRunDirectory() {
    const char* profile = std::getenv("USERPROFILE");
    if (profile == nullptr)
        return {};
    const std::string downloads = platform::JoinPath(profile, "Downloads");
    return platform::IsDirectory(downloads) ? downloads : profile;
}

std::wstring Wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

// The explanation with the box "Copy it into the program directory ..."; the box's state, or
// none when the user cancels.
std::optional<bool> ExplainFirstRun(const std::string& text, bool copyByDefault) {
    const std::wstring content = Wide(text);
    constexpr int kChooseButton = 100;
    const TASKDIALOG_BUTTON buttons[] = {{kChooseButton, L"Choose the client..."}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.dwFlags = copyByDefault ? TDF_VERIFICATION_FLAG_CHECKED : 0;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = L"Vantrel";
    config.pszMainIcon = TD_INFORMATION_ICON;
    config.pszContent = content.c_str();
    config.cButtons = 1;
    config.pButtons = buttons;
    config.nDefaultButton = kChooseButton;
    config.pszVerificationText = L"Copy it into the program directory so that it is found next time";
    int pressed = 0;
    BOOL ticked = copyByDefault;
    if (SUCCEEDED(::TaskDialogIndirect(&config, &pressed, nullptr, &ticked)))
        return pressed == kChooseButton ? std::optional<bool>(ticked != FALSE) : std::nullopt;
    // Without the newer common controls: the text alone, and the copy as the default says.
    if (::MessageBoxA(nullptr, text.c_str(), "Vantrel", MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
        return std::nullopt;
    return copyByDefault;
}

// Copies client into programDir under a name the next start finds (ORVA*.exe); the copy's
// path, or empty when it could not be made.
std::string CopyClientIntoProgramDir(const std::string& client, const std::string& programDir) {
    std::string name = platform::FileNamePart(client);
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!upper.starts_with("ORVA") || !upper.ends_with(".EXE"))
        name = "ORVA_" + name + (upper.ends_with(".EXE") ? "" : ".exe");
    const std::string target = platform::JoinPath(programDir, name);
    if (platform::IsSameFile(client, target))
        return target;
    return platform::CopyFile(client, target, true) ? target : std::string();
}

} // namespace

std::string FirstRunText(const std::string& programDir) {
    return "Vantrel needs the ORVA command-line client: the program that processes ORVA work units (a file "
           "named like ORVA_cmdline.exe). None was found in " +
           programDir +
           ".\n\nDownload the command-line client for Windows from the ORVA project's web site, then choose it "
           "in the next window.";
}

std::string CWinClientChooser::AskForClient(const std::string& programDir) {
    constexpr const char* kTitle = "Vantrel - Select CLI Client";
    if (m_bExplained || HasClientCandidate(programDir))
        return AskForFile(nullptr, kTitle, m_bExplained ? FirstRunDirectory() : programDir, OFN_NONETWORKBUTTON);
    // The very first start: say what is wanted before asking for a file.
    m_bExplained = true;
    const std::optional<bool> copy = ExplainFirstRun(FirstRunText(programDir), m_bInstalledCopy);
    if (!copy)
        return {};
    const std::string chosen = AskForFile(nullptr, kTitle, FirstRunDirectory(), OFN_NONETWORKBUTTON);
    // The program itself is refused by the caller, never copied as a client.
    if (chosen.empty() || !*copy || ::lstrcmpiA(platform::FileNamePart(chosen).c_str(), m_strOwnFileName.c_str()) == 0)
        return chosen;
    // A copy that fails leaves the client used where it lies, as without the box.
    const std::string copied = CopyClientIntoProgramDir(chosen, programDir);
    return copied.empty() ? chosen : copied;
}

void CWinClientChooser::ShowMessage(const std::string& text, bool error) {
    ::MessageBoxA(nullptr, text.c_str(), "Vantrel", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

std::string AskForNewClient(HWND owner, const std::string& programDir) {
    return AskForFile(owner, "Vantrel - Select New CLI Client", programDir, 0);
}

} // namespace vantrel
