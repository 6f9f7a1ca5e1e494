#pragma once

#include "winui/win32.h"

#include <string>

namespace vantrel {

// The version line of the About box from the executable's version resource: "Vantrel 1.2.3.4"
// (with " BETA" for a pre-release), "Vantrel Version UNKNOWN" without a resource, "Vantrel
// Version Error: N" when it cannot be read.
std::string ReadVersionLine(const std::string& executable);

// The About box (dialog 100), modal over owner.
void ShowAboutBox(HWND owner);

} // namespace vantrel
