#pragma once

#include <map>
#include <string>
#include <vector>

// Helpers for the install and package tests: running the build's tools and reading what they made.
namespace vantrel::test {

struct CommandResult {
    int exitCode = -1;  // -1: it could not start, or a signal ended it
    std::string output; // standard output and standard error together
};

// Runs argv (argv[0] a full path, no shell) in cwd with extra "NAME=value" environment entries,
// which replace inherited ones of the same name, and waits for its end.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::vector<std::string>& extraEnv = {});

// Every file and symbolic link below root, as paths relative to it, sorted.
std::vector<std::string> ListFilesBelow(const std::string& root);

// Every file the installed program consists of, relative to the installation prefix, sorted.
std::vector<std::string> ExpectedInstalledFiles();

// The pixel sizes of the installed bitmap icons.
std::vector<int> ExpectedIconSizes();

// The keys and values of the [Desktop Entry] group of a desktop file.
std::map<std::string, std::string> ReadDesktopEntry(const std::string& path);

} // namespace vantrel::test
