#include "winui/win32.h"
#include "winui/winpercentbar.h"

#include "control/trayrules.h"

#include <string>

namespace vantrel {

CPercentBar::~CPercentBar() {
    if (m_hWnd != nullptr)
        ::RemoveWindowSubclass(m_hWnd, &CPercentBar::SubclassProc, 0);
}

void CPercentBar::Attach(HWND edit) {
    m_hWnd = edit;
    ::SetWindowSubclass(edit, &CPercentBar::SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
    ::SetWindowTextA(edit, PercentLabelText(m_fPercent).c_str());
}

void CPercentBar::SetPercent(float fraction) {
    m_fPercent = BarPercentOf(fraction);
    if (m_hWnd == nullptr)
        return;
    // The label is also the control's text, so a screen reader reads it.
    ::SetWindowTextA(m_hWnd, PercentLabelText(m_fPercent).c_str());
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

LRESULT CALLBACK CPercentBar::SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR self) {
    auto* bar = reinterpret_cast<CPercentBar*>(self);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = ::BeginPaint(hWnd, &paint);
        bar->Paint(dc);
        ::EndPaint(hWnd, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // the two passes fill the whole control
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        // The edit would draw its caret and selection over the bar.
        ::InvalidateRect(hWnd, nullptr, TRUE);
        return 0;
    default:
        return ::DefSubclassProc(hWnd, message, wParam, lParam);
    }
}

void CPercentBar::Paint(HDC dc) const {
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const int split = PercentBarSplit(m_fPercent, width);
    const RECT left{0, 0, split, height};
    const RECT right{split, 0, width, height};
    const std::string label = PercentLabelText(m_fPercent);
    const int x = width / 2;
    const int y = static_cast<int>(height * 0.7);
    ::SetTextAlign(dc, TA_CENTER | TA_BASELINE);
    const COLORREF filled = ::GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF filledText = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
    const COLORREF empty = ::GetSysColor(COLOR_WINDOW);
    ::SetTextColor(dc, filledText);
    ::SetBkColor(dc, filled);
    ::ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &left, label.c_str(), static_cast<UINT>(label.size()), nullptr);
    ::SetTextColor(dc, filled);
    ::SetBkColor(dc, empty);
    ::ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &right, label.c_str(), static_cast<UINT>(label.size()), nullptr);
}

} // namespace vantrel
