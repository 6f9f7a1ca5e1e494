// The main dialog's window: its messages, commands and system commands.
#include "winui/win32.h"
#include "winui/vantreldlg.h"

#include "control/trayrules.h"
#include "control/vantrelcontroller.h"
#include "core/cachestore.h"
#include "engine/messagetarget.h"
#include "winui/resource.h"
#include "winui/winaboutdlg.h"
#include "winui/winautostart.h"
#include "winui/wincopychannel.h"
#include "winui/winclientchooser.h"
#include "winui/wintray.h"
#include "winui/winwindowplace.h"

namespace vantrel {

namespace {

// The transmit thread's word that the pass began or ended, carried to the dialog's thread.
constexpr UINT WM_TRANSMIT_STATE = WM_APP + 0x101;

} // namespace

CVantrelDlg::CVantrelDlg(COptions& options, const CCacheStore& store, CSystemTray& tray, CWinCopyChannel& channel,
                         std::string ownExecutable)
    : m_options(options), m_store(store), m_tray(tray), m_channel(channel),
      m_strOwnExecutable(std::move(ownExecutable)) {}

CVantrelDlg::~CVantrelDlg() {
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
}

bool CVantrelDlg::Create() {
    m_hWnd = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_VANTREL_DIALOG), nullptr,
                                  &CVantrelDlg::DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_hWnd == nullptr)
        return false;
    m_bar.Attach(::GetDlgItem(m_hWnd, IDC_PERCENT_BAR));
    RestoreWindowPlace(m_hWnd, m_store.GetProgramDir());
    return true;
}

void CVantrelDlg::InitDialog(bool startMinimized) {
    HMENU system = ::GetSystemMenu(m_hWnd, FALSE);
    if (system != nullptr) {
        ::AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(system, MF_STRING, kTransmitCommand, "Transmit");
        char about[64] = {};
        if (::LoadStringA(::GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about) > 0)
            ::AppendMenuA(system, MF_STRING, kAboutCommand, about);
        // Beside the window's own items, the desktop's way to start with the session.
        ::AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(system, MF_STRING, IDM_START_AT_LOGIN, "Start at login");
    }
    SetIcon(kIconWorkHeld);
    m_tray.AddToTray(m_hWnd, WM_APP_3, "Vantrel", m_hIcon, kTrayIconId);
    if (m_controller != nullptr)
        m_controller->OnInitDialog(startMinimized);
    m_bInitialised = true;
    UpdateTransmitState();
}

INT_PTR CALLBACK CVantrelDlg::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        reinterpret_cast<CVantrelDlg*>(lParam)->m_hWnd = hWnd;
        return TRUE;
    }
    auto* self = reinterpret_cast<CVantrelDlg*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CVantrelDlg::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_channel.OnWindowMessage(message, wParam, lParam))
        return TRUE;
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE || (wParam & 0xFFF0) == SC_CLOSE || (wParam & 0xFFF0) == SC_RESTORE ||
            (wParam & 0xFFF0) == kAboutCommand || (wParam & 0xFFF0) == kTransmitCommand ||
            (wParam & 0xFFF0) == IDM_START_AT_LOGIN) {
            OnSysCommand(static_cast<unsigned>(wParam & 0xFFF0));
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        // Another program's close request hides the window, as the title bar's does.
        PostSysCommand(SC_MINIMIZE);
        return TRUE;
    case WM_INITMENUPOPUP:
        // The tick is read from the Run key whenever the menu opens: another copy, or the user,
        // may have changed it.
        if (HIWORD(lParam) != 0)
            ::CheckMenuItem(reinterpret_cast<HMENU>(wParam), IDM_START_AT_LOGIN,
                            MF_BYCOMMAND | (IsStartAtLogin(m_strOwnExecutable) ? MF_CHECKED : MF_UNCHECKED));
        return FALSE;
    case WM_TRANSMIT_STATE:
        UpdateTransmitState();
        return TRUE;
    case WM_PAINT:
        return PaintMinimized() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(m_hIcon));
        return TRUE;
    case WM_SETCURSOR:
        if (m_nWaitCursor > 0) {
            ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
            ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

bool CVantrelDlg::PaintMinimized() {
    if (!::IsIconic(m_hWnd))
        return false;
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
    return true;
}

void CVantrelDlg::OnCommand(int id, int code) {
    // Adding the tray icon waits on the shell, and meanwhile another program's messages arrive:
    // before the fields hold the options, an Enter or a click would refuse or lose them.
    if (m_controller == nullptr || m_bEnded || !m_bInitialised)
        return;
    CVantrelController& c = *m_controller;
    // Focus changes while a message box is open, or text the program writes, are no edit of
    // the user's that ended.
    const bool userEdit = m_nPromptDepth == 0 && !m_bShowingFields;
    switch (id) {
    case IDOK:
        c.OnEnter();
        return;
    case IDCANCEL:
        ::SendDlgItemMessageA(m_hWnd, IDC_MAX_PROCESSES, EM_UNDO, 0, 0);
        ::SendDlgItemMessageA(m_hWnd, IDC_DESIRED_CACHE_SIZE, EM_UNDO, 0, 0);
        return;
    case IDC_DESIRED_CACHE_SIZE:
        if (code == EN_KILLFOCUS && userEdit)
            c.ApplyDesiredCacheSize();
        return;
    case IDC_MAX_PROCESSES:
        if (code == EN_KILLFOCUS && userEdit)
            c.ApplyMaxProcesses();
        return;
    case IDC_SERVER_PORT:
        if ((code == EN_CHANGE || code == EN_KILLFOCUS) && userEdit)
            c.OnPortChanged();
        return;
    case ID_SYSTRAY_RESTORE:
        PostSysCommand(SC_RESTORE);
        return;
    case ID_SYSTRAY_MINIMIZE:
        PostSysCommand(SC_MINIMIZE);
        return;
    case ID_SYSTRAY_ABOUT:
        PostSysCommand(kAboutCommand);
        return;
    case ID_SYSTRAY_TRANSMIT:
        c.OnTransmit();
        return;
    case ID_SYSTRAY_SAVECONFIG:
        c.OnSaveConfig();
        return;
    case ID_SYSTRAY_EXIT:
        c.Exit();
        return;
    default:
        if (code == BN_CLICKED)
            OnButton(id);
        return;
    }
}

void CVantrelDlg::OnButton(int id) {
    CVantrelController& c = *m_controller;
    switch (id) {
    case IDC_HIDE_PROCESSING: c.OnHideProcessing(Checked(id)); break;
    case IDC_AUTO_TRANSMIT: c.OnAutoTransmit(Checked(id)); break;
    case IDC_DISPLAY_TRANSMIT: c.OnDisplayTransmit(Checked(id)); break;
    case IDC_NOTIFY_PROBLEMS: c.OnNotifyProblems(Checked(id)); break;
    case IDC_USE_COLON: c.OnUseColon(Checked(id)); break;
    case IDC_MONITOR_PROGRESS: c.OnMonitorProgress(Checked(id)); break;
    case IDC_USE_SPY: c.OnUseSpy(Checked(id)); break;
    case IDC_24HR_CLOCK: c.On24HourClock(Checked(id)); break;
    case IDC_CREATE_LOG: c.OnCreateLog(Checked(id)); break;
    case IDC_SET_AFFINITY: c.OnSetAffinity(Checked(id)); break;
    case IDC_NO_SERVER: if (Checked(id)) c.OnServerMode(SM_NONE); break;
    case IDC_PROXY_SERVER: if (Checked(id)) c.OnServerMode(SM_PROXY); break;
    case IDC_SOCKS_SERVER: if (Checked(id)) c.OnServerMode(SM_SOCKS); break;
    case IDC_PRIORITY_LOW: if (Checked(id)) c.OnClientPriority(CP_LOW); break;
    case IDC_PRIORITY_NORMAL: if (Checked(id)) c.OnClientPriority(CP_NORMAL); break;
    case IDC_PRIORITY_HIGH: if (Checked(id)) c.OnClientPriority(CP_HIGH); break;
    case IDC_UPDATE_PROGRESS: c.OnUpdateProgressNow(); break;
    case IDC_SAVE_CONFIG: c.OnSaveConfig(); break;
    case IDC_TRANSMIT: c.OnTransmit(); break;
    case IDC_EXIT: c.Exit(); break;
    case IDC_NEW_CLIENT: OnNewClient(); break;
    default: break;
    }
}

void CVantrelDlg::OnSysCommand(unsigned command) {
    switch (command) {
    case kAboutCommand:
        ShowAboutBox(m_hWnd);
        break;
    case kTransmitCommand:
        if (m_controller != nullptr)
            m_controller->OnTransmit();
        break;
    case SC_MINIMIZE:
        ::ShowWindow(m_hWnd, SW_MINIMIZE);
        ::ShowWindow(m_hWnd, SW_HIDE);
        m_bMinimized = true;
        m_tray.SetDefaultItem(ID_SYSTRAY_RESTORE, false);
        break;
    case SC_CLOSE:
        PostSysCommand(SC_MINIMIZE);
        break;
    case IDM_START_AT_LOGIN:
        SetStartAtLogin(!IsStartAtLogin(m_strOwnExecutable), m_strOwnExecutable);
        break;
    case SC_RESTORE:
        ::ShowWindow(m_hWnd, SW_RESTORE);
        ::ShowWindow(m_hWnd, SW_SHOW);
        ::SetForegroundWindow(m_hWnd);
        m_bMinimized = false;
        m_tray.SetDefaultItem(ID_SYSTRAY_MINIMIZE, false);
        break;
    default:
        break;
    }
}

void CVantrelDlg::OnNewClient() {
    const std::string path = AskForNewClient(m_hWnd, m_store.GetProgramDir());
    if (!path.empty() && m_controller != nullptr)
        m_controller->NewClient(path);
}

void CVantrelDlg::UpdateTransmitState() {
    if (m_controller == nullptr || m_hWnd == nullptr)
        return;
    ::SetDlgItemTextA(m_hWnd, IDC_TRANSMIT, m_controller->TransmitCaption());
    HMENU system = ::GetSystemMenu(m_hWnd, FALSE);
    if (system != nullptr)
        ::EnableMenuItem(system, kTransmitCommand,
                         MF_BYCOMMAND | (m_controller->TransmitRunning() ? MF_GRAYED : MF_ENABLED));
}

void CVantrelDlg::TransmitStateChanged(bool) {
    // The caption is read from the transmitter when the message arrives, so a late arrival never
    // leaves a stale caption behind.
    ::PostMessageA(m_hWnd, WM_TRANSMIT_STATE, 0, 0);
}

void CVantrelDlg::PostSysCommand(unsigned command) {
    ::PostMessageA(m_hWnd, WM_SYSCOMMAND, command, 0);
}

void CVantrelDlg::EndDialog() {
    m_bEnded = true;
    SaveWindowPlace(m_hWnd, m_store.GetProgramDir());
    m_tray.RemoveFromTray();
    ::ShowWindow(m_hWnd, SW_HIDE);
}

} // namespace vantrel
