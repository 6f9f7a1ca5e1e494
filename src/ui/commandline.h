#pragma once

#include <optional>
#include <string>

// The desktop program's command line before any window: the requests that need neither a client
// nor a display, and the check that a display is there.
namespace vantrel {

// `vantrel --help`, `-h`, `--version`, `vantrel --post N [--program-dir DIR]`, `vantrel --status`
// and `vantrel --headless` (which becomes the headless program), and a mistyped `--option` (exit
// code 2). The exit code when the command line asked for one of them or was refused, else none.
std::optional<int> RunCommandLineRequest(int argc, char** argv);

// Exit code 1 with one line on stderr when the toolkit would find no display to open; else none.
std::optional<int> CheckDisplay(int argc, char** argv);
// That line.
std::string NoDisplayMessage();

// The usage text of --help.
std::string UsageText();

} // namespace vantrel
