#include "winui/win32.h"
#include "winui/wintray.h"

#include "winui/winobjectwindow.h"

#include <algorithm>
#include <cstring>

namespace vantrel {

namespace {

constexpr const char* kWindowClass = "VantrelTrayWindow";

template <std::size_t N> void CopyText(char (&field)[N], const std::string& text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

} // namespace

CSystemTray::CSystemTray() : m_nTaskbarCreated(::RegisterWindowMessageA("TaskbarCreated")) {}

CSystemTray::~CSystemTray() {
    RemoveFromTray();
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
}

bool CSystemTray::AddToTray(HWND target, UINT message, const char* tip, HICON icon, UINT id) {
    m_hTarget = target;
    // Top-level: "TaskbarCreated" is broadcast to top-level windows only.
    if (m_hWnd == nullptr)
        m_hWnd = CreateObjectWindow(
            {kWindowClass, &ObjectWindowProc<CSystemTray, &CSystemTray::Handle>, "", 0, WS_POPUP, nullptr}, this);
    m_notify = {};
    m_notify.cbSize = sizeof m_notify;
    m_notify.hWnd = m_hWnd;
    m_notify.uID = id;
    m_notify.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_notify.uCallbackMessage = message;
    m_notify.hIcon = icon;
    CopyText(m_notify.szTip, tip);
    m_bWanted = true;
    m_bAdded = ::Shell_NotifyIconA(NIM_ADD, &m_notify) != FALSE;
    return m_bAdded;
}

bool CSystemTray::ChangeIcon(HICON icon) {
    m_notify.hIcon = icon;
    if (!m_bAdded)
        return false;
    m_notify.uFlags = NIF_ICON;
    return ::Shell_NotifyIconA(NIM_MODIFY, &m_notify) != FALSE;
}

bool CSystemTray::ChangeTip(const std::string& text) {
    CopyText(m_notify.szTip, text);
    if (!m_bAdded)
        return false;
    m_notify.uFlags = NIF_TIP;
    return ::Shell_NotifyIconA(NIM_MODIFY, &m_notify) != FALSE;
}

bool CSystemTray::ShowBalloon(const std::string& title, const std::string& text) {
    if (!m_bAdded)
        return false;
    NOTIFYICONDATAA balloon = m_notify;
    balloon.uFlags = NIF_INFO;
    balloon.dwInfoFlags = NIIF_WARNING;
    CopyText(balloon.szInfoTitle, title);
    CopyText(balloon.szInfo, text);
    return ::Shell_NotifyIconA(NIM_MODIFY, &balloon) != FALSE;
}

void CSystemTray::RemoveFromTray() {
    m_bWanted = false;
    if (!m_bAdded)
        return;
    m_notify.uFlags = 0;
    ::Shell_NotifyIconA(NIM_DELETE, &m_notify);
    m_bAdded = false;
}

HMENU CSystemTray::LoadPopup(LoadedMenu& menu) const {
    menu.reset(::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_notify.uID)));
    HMENU popup = menu != nullptr ? ::GetSubMenu(menu.get(), 0) : nullptr;
    if (popup != nullptr)
        ::SetMenuDefaultItem(popup, m_nDefaultItem, m_bDefaultByPosition ? TRUE : FALSE);
    return popup;
}

bool CSystemTray::SetDefaultItem(UINT item, bool byPosition) {
    if (item == m_nDefaultItem && byPosition == m_bDefaultByPosition)
        return true;
    m_nDefaultItem = item;
    m_bDefaultByPosition = byPosition;
    LoadedMenu menu;
    return LoadPopup(menu) != nullptr;
}

LRESULT CSystemTray::Handle(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == m_notify.uCallbackMessage && m_notify.uCallbackMessage != 0)
        return OnIconNotify(wParam, lParam);
    // The taskbar was re-created (Explorer restarted): the icon is gone with it.
    if (message == m_nTaskbarCreated && m_nTaskbarCreated != 0 && m_bWanted) {
        NOTIFYICONDATAA again = m_notify;
        again.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        m_bAdded = ::Shell_NotifyIconA(NIM_ADD, &again) != FALSE;
        return 0;
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

LRESULT CSystemTray::OnIconNotify(WPARAM wParam, LPARAM lParam) {
    if (wParam != m_notify.uID)
        return 0;
    HWND target = m_hTarget;
    switch (LOWORD(lParam)) {
    case WM_RBUTTONUP: {
        LoadedMenu menu;
        HMENU popup = LoadPopup(menu);
        if (popup == nullptr)
            return 0;
        POINT cursor{};
        ::GetCursorPos(&cursor);
        // Without it the menu would not close when the user clicks elsewhere.
        ::SetForegroundWindow(target);
        ::TrackPopupMenu(popup, 0, cursor.x, cursor.y, 0, target, nullptr);
        ::PostMessageA(target, WM_NULL, 0, 0);
        return 1;
    }
    case WM_LBUTTONDBLCLK: {
        ::SetForegroundWindow(target);
        UINT command = m_nDefaultItem;
        if (m_bDefaultByPosition) {
            LoadedMenu menu;
            HMENU popup = LoadPopup(menu);
            if (popup == nullptr)
                return 0;
            command = ::GetMenuItemID(popup, static_cast<int>(m_nDefaultItem));
        }
        ::SendMessageA(target, WM_COMMAND, command, 0);
        return 1;
    }
    default:
        return 1;
    }
}

} // namespace vantrel
