#pragma once

#include "winui/win32.h"

#include <optional>
#include <string>

// The Windows program's command line before any window: `--help`, `-h`, `--version` and
// `--post N`, printed to the console the program was started from, and a mistyped `--option`.
namespace vantrel {

// The exit code when the command line asked for one of them or was refused, else none.
std::optional<int> RunWindowsCommandLine(int argc, char** argv);

// The usage text of --help.
std::string WindowsUsageText();

} // namespace vantrel
