#pragma once

#include <string>

namespace vantrel::platform {

struct ProgramLocation {
    std::string directory; // where the cache, the client and the configuration file live
    std::string fileName;  // the program's own file name, as started
};

// Where this program keeps its cache. The program directory is the executable's own directory,
// as the portable layout has it, so a copy unpacked anywhere keeps its cache beside it. An
// installed copy (in a system directory such as /usr/bin, or one the user may not write) keeps it
// in the user's data directory instead ($XDG_DATA_HOME/vantrel, else ~/.local/share/vantrel,
// created owner-only; without HOME, the home directory of the password database), never under
// /usr. That directory must be the user's own and writable by no one else: otherwise, or when
// the user has no home directory at all, the directory is left empty and the program must not
// start. A symbolic link to the program counts as the program:
// started through a link in a directory of the user's, that directory is the program directory.
// VANTREL_PROGRAM_DIR, when set, names the directory outright.
// argv0: the program's first argument; executablePath: /proc/self/exe.
ProgramLocation ResolveProgramLocation(const std::string& argv0, const std::string& executablePath);

} // namespace vantrel::platform
