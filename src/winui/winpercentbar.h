#pragma once

#include "winui/win32.h"

namespace vantrel {

// The read-only edit control 1029 drawn as the completion bar: the highlight colour up to the
// completion and the window colour after it, with one centred label drawn in two ExtTextOutA
// passes, each clipped to its side (white on blue and blue on white in the default colours).
class CPercentBar {
public:
    CPercentBar() = default;
    ~CPercentBar();
    CPercentBar(const CPercentBar&) = delete;
    CPercentBar& operator=(const CPercentBar&) = delete;

    // Takes over the painting of the edit control.
    void Attach(HWND edit);
    // Sets the completion from a fraction 0..1 and repaints.
    void SetPercent(float fraction);
    float Percent() const { return m_fPercent; }

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    void Paint(HDC dc) const;

    HWND m_hWnd = nullptr;
    float m_fPercent = 0.0f;
};

} // namespace vantrel
