#pragma once

#include "winui/win32.h"

#include <memory>
#include <string>
#include <type_traits>

namespace vantrel {

// The notification-area icon: added with Shell_NotifyIconA, its notification message received by
// a hidden window of its own, its menu (resource 133) loaded afresh at each use with the default
// item in bold, the double click sending the default item to the dialog. The icon is added again
// when the taskbar is re-created ("TaskbarCreated"); problems are shown as balloons.
class CSystemTray {
public:
    CSystemTray();
    ~CSystemTray();
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // target: the window that gets the menu's commands (the main dialog).
    bool AddToTray(HWND target, UINT message, const char* tip, HICON icon, UINT id);
    bool ChangeIcon(HICON icon);
    bool ChangeTip(const std::string& text);
    bool SetDefaultItem(UINT item, bool byPosition);
    void RemoveFromTray();
    // A balloon notification (NIF_INFO) with a title and a text.
    bool ShowBalloon(const std::string& title, const std::string& text);
    bool IsAdded() const { return m_bAdded; }

    // Called for the notification message; wParam carries the icon id, lParam the mouse message.
    LRESULT OnIconNotify(WPARAM wParam, LPARAM lParam);

private:
    LRESULT Handle(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    struct MenuDestroyer {
        void operator()(HMENU menu) const { ::DestroyMenu(menu); }
    };
    using LoadedMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer>;
    // The first popup of the menu resource, marked with the default item; menu owns it.
    HMENU LoadPopup(LoadedMenu& menu) const;

    bool m_bAdded = false;
    // Asked for and not removed: added again whenever a taskbar starts, also when the first add
    // found none (a copy started at login may come before the taskbar).
    bool m_bWanted = false;
    NOTIFYICONDATAA m_notify{};
    UINT m_nDefaultItem = 0;
    bool m_bDefaultByPosition = true;
    HWND m_hWnd = nullptr;
    HWND m_hTarget = nullptr;
    UINT m_nTaskbarCreated = 0;
};

} // namespace vantrel
