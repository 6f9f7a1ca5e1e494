#pragma once

#include "core/options.h"
#include "platform/system.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The configuration file beside the executable: option keywords, one per line, lines ending in
// CR LF when written and read with CR LF or LF.
namespace vantrel {

// Only this much of the file is read; a real one holds a few dozen bytes.
inline constexpr std::size_t kMaxConfigurationBytes = std::size_t{1} << 20;

// The executable's path with the extension of its file name replaced by ".cfg", or ".cfg"
// appended when the name has none ("/a.b/vantrel" -> "/a.b/vantrel.cfg"). A leading dot does not
// start an extension. Empty for an empty path, so nothing is looked for in the current directory.
std::string GetConfigurationPath(std::string_view executablePath);

// The arguments after the program name joined by spaces, then each line of the file at
// configPath (its line end removed) preceded by one space. A line ends at a NUL byte, as a C
// string would; past kMaxConfigurationBytes the file is cut before its last incomplete line.
// Without a readable file, the arguments alone.
std::string CollectOptionText(const std::vector<std::string>& arguments, const std::string& configPath);

// The file's content for these options; defaults write nothing. minimised: the dialog is iconic
// now. "-cpu" is written when MaxProcesses differs from processorCount; "-affinity" only with 2
// or more processors. With a server chosen but a blank host, no server lines are written, so the
// file reads back as no server; a blank socks user or password is not written either.
std::string FormatConfiguration(const COptions& options, bool minimised, unsigned processorCount);

// Writes the file by way of a new file renamed over the old one, readable by its owner only (it
// may hold a socks password). False when it cannot be written; the old file is then untouched.
bool SaveConfiguration(const std::string& path, const COptions& options, bool minimised,
                       unsigned processorCount = platform::GetProcessorCount());

} // namespace vantrel
