// What the main dialog shows of the controller: the fields, counters, progress, icon and notices.
#include "winui/win32.h"
#include "winui/vantreldlg.h"

#include "control/trayrules.h"
#include "control/vantrelcontroller.h"
#include "core/optiontext.h"
#include "core/options.h"
#include "winui/resource.h"
#include "winui/wintray.h"

#include <cstdlib>

namespace vantrel {

namespace {

constexpr const char* kCaption = "Vantrel";

// dir for a title: the user's profile folder as ~, and at most about 30 characters (its end kept).
std::string ShortDirectoryLabel(const std::string& dir) {
    std::string label = dir;
    const char* profile = std::getenv("USERPROFILE");
    const std::string home = profile != nullptr ? profile : "";
    if (!home.empty() && label.size() >= home.size() && _strnicmp(label.c_str(), home.c_str(), home.size()) == 0 &&
        (label.size() == home.size() || label[home.size()] == '\\'))
        label = "~" + label.substr(home.size());
    constexpr std::size_t kMaxLabel = 30;
    if (label.size() > kMaxLabel)
        label = "..." + label.substr(label.size() - (kMaxLabel - 3));
    return label;
}

} // namespace

std::string CVantrelDlg::Text(int id) const {
    HWND control = ::GetDlgItem(m_hWnd, id);
    std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(control)) + 1, '\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextA(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

void CVantrelDlg::SetText(int id, const std::string& text) {
    // Setting the same text again would only wipe the field's undo.
    if (Text(id) != text)
        ::SetDlgItemTextA(m_hWnd, id, text.c_str());
}

bool CVantrelDlg::Checked(int id) const {
    return ::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED;
}

int CVantrelDlg::CopyFields() {
    int refused = 0;
    auto readNumber = [this, &refused](int id, auto parse, unsigned& option) {
        if (auto value = parse(Text(id)))
            option = *value;
        else if (refused == 0)
            refused = id;
    };
    readNumber(IDC_MAX_PROCESSES, ParseMaxProcessesField, m_options.MaxProcesses);
    readNumber(IDC_DESIRED_CACHE_SIZE, ParseDesiredCacheSizeField, m_options.DesiredCacheSize);
    readNumber(IDC_SERVER_PORT, ParseNumberField, m_options.ServerPort);
    m_options.ServerHost = Text(IDC_SERVER_HOST);
    m_options.SocksUser = Text(IDC_SOCKS_USER);
    m_options.SocksPassword = Text(IDC_SOCKS_PASSWORD);
    return refused;
}

bool CVantrelDlg::ReadFields() {
    const int refused = CopyFields();
    if (refused == 0)
        return true;
    RefuseField(refused);
    return false;
}

void CVantrelDlg::ReadFieldsQuietly() {
    CopyFields();
}

bool CVantrelDlg::FieldsAcceptable() const {
    return ParseMaxProcessesField(Text(IDC_MAX_PROCESSES)) && ParseNumberField(Text(IDC_DESIRED_CACHE_SIZE)) &&
           ParseNumberField(Text(IDC_SERVER_PORT));
}

void CVantrelDlg::RefuseField(int id) {
    ++m_nPromptDepth;
    // Out of sight the user could neither read the message against its field nor correct it.
    if (m_bMinimized || !::IsWindowVisible(m_hWnd)) {
        ::ShowWindow(m_hWnd, SW_RESTORE);
        ::ShowWindow(m_hWnd, SW_SHOW);
        m_bMinimized = false;
        m_tray.SetDefaultItem(ID_SYSTRAY_MINIMIZE, false);
    }
    ::MessageBoxA(m_hWnd, kPositiveIntegerMessage, kCaption, MB_OK | MB_ICONEXCLAMATION);
    --m_nPromptDepth;
    HWND edit = ::GetDlgItem(m_hWnd, id);
    ::SetFocus(edit);
    ::SendMessageA(edit, EM_SETSEL, 0, -1);
}

void CVantrelDlg::ShowFields() {
    m_bShowingFields = true;
    SetText(IDC_MAX_PROCESSES, std::to_string(m_options.MaxProcesses));
    SetText(IDC_DESIRED_CACHE_SIZE, std::to_string(m_options.DesiredCacheSize));
    SetText(IDC_SERVER_HOST, m_options.ServerHost);
    SetText(IDC_SERVER_PORT, std::to_string(m_options.ServerPort));
    SetText(IDC_SOCKS_USER, m_options.SocksUser);
    SetText(IDC_SOCKS_PASSWORD, m_options.SocksPassword);
    if (m_controller != nullptr) {
        const CacheCounters& counters = m_controller->Counters();
        const std::pair<int, unsigned> shown[] = {{IDC_CURRENT_CACHE_SIZE, counters.CurrentCacheSize},
                                                  {IDC_PROCESSING, counters.ProcessingCount},
                                                  {IDC_WAITING_TO_PROCESS, counters.WaitingToProcess},
                                                  {IDC_READY_TO_TRANSMIT, counters.ReadyToTransmit},
                                                  {IDC_NEED_TO_FILL, counters.NeedToFill}};
        for (const auto& [id, value] : shown)
            SetText(id, std::to_string(value));
    }
    const std::pair<int, bool> checks[] = {{IDC_HIDE_PROCESSING, m_options.HideProcessing},
                                           {IDC_AUTO_TRANSMIT, m_options.AutoTransmit},
                                           {IDC_DISPLAY_TRANSMIT, m_options.DisplayTransmit},
                                           {IDC_USE_COLON, m_options.UseColon},
                                           {IDC_MONITOR_PROGRESS, m_options.MonitorProgress},
                                           {IDC_USE_SPY, m_options.UseSpy},
                                           {IDC_24HR_CLOCK, m_options.Use24HourClock},
                                           {IDC_CREATE_LOG, m_options.CreateLog},
                                           {IDC_SET_AFFINITY, m_options.SetAffinity},
                                           {IDC_NOTIFY_PROBLEMS, m_options.NotifyProblems}};
    for (const auto& [id, on] : checks)
        ::CheckDlgButton(m_hWnd, id, on ? BST_CHECKED : BST_UNCHECKED);
    const EServerMode mode = m_options.ServerMode;
    ::CheckRadioButton(m_hWnd, IDC_NO_SERVER, IDC_SOCKS_SERVER,
                       mode == SM_PROXY ? IDC_PROXY_SERVER : mode == SM_SOCKS ? IDC_SOCKS_SERVER : IDC_NO_SERVER);
    const EClientPriority priority = m_options.ClientPriority;
    ::CheckRadioButton(m_hWnd, IDC_PRIORITY_LOW, IDC_PRIORITY_NORMAL,
                       priority == CP_NORMAL ? IDC_PRIORITY_NORMAL
                       : priority == CP_HIGH ? IDC_PRIORITY_HIGH
                                             : IDC_PRIORITY_LOW);
    m_bShowingFields = false;
}

void CVantrelDlg::SetIcon(unsigned iconId) {
    // Every recount sets the icon; only a change is worth redrawing the window and the tray.
    if (iconId == m_nIconId)
        return;
    m_nIconId = iconId;
    m_hIcon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_tray.ChangeIcon(m_hIcon);
    if (::IsIconic(m_hWnd))
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CVantrelDlg::SetTrayTip(const std::string& tip) {
    m_strLastTip = tip;
    std::string shown = tip;
    if (!m_strCopyLabel.empty() && shown.starts_with("Vantrel"))
        shown.insert(7, " " + m_strCopyLabel);
    m_tray.ChangeTip(FitTrayTip(shown));
}

void CVantrelDlg::ShowProgramDirectory(const std::string& dir) {
    m_strCopyLabel = ShortDirectoryLabel(dir);
    ::SetWindowTextA(m_hWnd, ("Vantrel - " + m_strCopyLabel).c_str());
    SetTrayTip(m_strLastTip.empty() ? std::string("Vantrel") : m_strLastTip);
}

void CVantrelDlg::ShowProgress(const ProgressFigures& figures) {
    ::SetDlgItemTextA(m_hWnd, IDC_TOTAL_TIME, figures.TotalText.c_str());
    ::SetDlgItemTextA(m_hWnd, IDC_TIME_LEFT, figures.LeftText.c_str());
    ::SetDlgItemTextA(m_hWnd, IDC_COMPLETION, figures.CompletionText.c_str());
    m_bar.SetPercent(figures.Fraction);
}

void CVantrelDlg::ShowNotice(const std::string& text) {
    HWND line = ::GetDlgItem(m_hWnd, IDC_NOTICE_LINE);
    ::SetWindowTextA(line, text.c_str());
    ::ShowWindow(line, text.empty() ? SW_HIDE : SW_SHOW);
}

void CVantrelDlg::SetWaitCursor(bool on) {
    if (on)
        ++m_nWaitCursor;
    else if (m_nWaitCursor > 0)
        --m_nWaitCursor;
    POINT cursor{};
    ::GetCursorPos(&cursor);
    ::SetCursor(::LoadCursorA(nullptr, m_nWaitCursor > 0 ? IDC_WAIT : IDC_ARROW));
}

void CVantrelDlg::EnableServerControls(const ServerControlStates& states) {
    // The server controls' ids, by their roles.
    static constexpr int kIds[kServerControlCount] = {
        IDC_HOST_LABEL, IDC_SERVER_HOST, IDC_PORT_LABEL, IDC_SERVER_PORT, IDC_USE_COLON,
        IDC_SOCKS_USER_LABEL, IDC_SOCKS_USER, IDC_SOCKS_PASSWORD_LABEL, IDC_SOCKS_PASSWORD};
    for (std::size_t role = 0; role < kServerControlCount; ++role)
        ::EnableWindow(::GetDlgItem(m_hWnd, kIds[role]), states[role] ? TRUE : FALSE);
    ::CheckDlgButton(m_hWnd, IDC_USE_COLON, m_options.UseColon ? BST_CHECKED : BST_UNCHECKED);
}

void CVantrelDlg::HideAffinityCheckBox() {
    ::ShowWindow(::GetDlgItem(m_hWnd, IDC_SET_AFFINITY), SW_HIDE);
}

} // namespace vantrel
