#pragma once

#include "winui/win32.h"

#include <string>

// "Start at login" on Windows: a value in the user's Run key that starts the program minimised.
namespace vantrel {

// Whether the Run key starts this program at login.
bool IsStartAtLogin(const std::string& executable);
// Writes or removes the value; false when the key refused.
bool SetStartAtLogin(bool on, const std::string& executable);

} // namespace vantrel
