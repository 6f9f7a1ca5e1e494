#pragma once

#include "winui/win32.h"

#include <string>

namespace vantrel {

// Where the main dialog stood when the copy of a program directory last ended, kept per user in
// %APPDATA%\Vantrel\windows.ini, one section per program directory, so that two copies in two
// directories each come back where they were.
std::string WindowPlacePath();
// Moves window to the place kept for programDir, without showing it; false when none is kept or
// the place lies on no monitor now.
bool RestoreWindowPlace(HWND window, const std::string& programDir);
// Keeps window's place (its normal, not minimised, rectangle) for programDir.
bool SaveWindowPlace(HWND window, const std::string& programDir);

} // namespace vantrel
