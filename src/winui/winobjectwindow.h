#pragma once

#include "winui/win32.h"

namespace vantrel {

// The window procedure of a window that serves one object: the object is CreateWindowExA's last
// argument, kept in the window's user data from the first message (WM_NCCREATE) on, and its
// Handle answers every message. Handle is given the window because the creation's own messages
// arrive before CreateWindowExA has returned it, and their default handling needs it.
template <class T, LRESULT (T::*Handle)(HWND, UINT, WPARAM, LPARAM)>
LRESULT CALLBACK ObjectWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<T*>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcA(hWnd, message, wParam, lParam);
    return (self->*Handle)(hWnd, message, wParam, lParam);
}

// What the window of an object is: never shown, so it has no size.
struct ObjectWindowKind {
    const char* className;
    WNDPROC windowProc;
    const char* title = "";
    DWORD exStyle = 0;
    DWORD style = 0;
    HWND parent = HWND_MESSAGE; // message-only unless nullptr: top-level
};

// Registers the class (a second registration fails harmlessly) and makes the window for self;
// nullptr when it cannot be made.
inline HWND CreateObjectWindow(const ObjectWindowKind& kind, void* self) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = kind.windowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kind.className;
    ::RegisterClassA(&windowClass);
    return ::CreateWindowExA(kind.exStyle, kind.className, kind.title, kind.style, 0, 0, 0, 0, kind.parent, nullptr,
                             windowClass.hInstance, self);
}

} // namespace vantrel
