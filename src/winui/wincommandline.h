#pragma once

#include "winui/win32.h"

#include <optional>
#include <string>

// The Windows program's command line before any window: `--help`, `-h`, `--version` and
// `--post N`, printed to the console the program was started from, and a mistyped `--option`.
namespace vantrel {

// The exit code when the command line asked for one of them, was refused, or ran the program
// without a window (`--headless`), else none.
std::optional<int> RunWindowsCommandLine(int argc, char** argv);

// Writes stdout and stderr to the console the program was started from, where they were not given
// a file or a pipe.
void UseParentConsole();

// The usage text of --help.
std::string WindowsUsageText();

} // namespace vantrel
