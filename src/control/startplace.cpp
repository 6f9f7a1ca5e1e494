#include "control/startplace.h"

#include "control/programdirlock.h"
#include "platform/system.h"

namespace vantrel {

StartPlace FindStartPlace(const std::string& givenExecutable, const std::string& argv0) {
    StartPlace place;
    place.executable = givenExecutable.empty() ? platform::GetOwnExecutablePath() : givenExecutable;
    if (place.executable.empty()) {
        place.error = "Vantrel cannot find its own program file; Exiting!";
        return place;
    }
    // Beside the executable, or in the user's data directory for an installed copy.
    place.where = platform::ResolveProgramLocation(givenExecutable.empty() ? argv0 : givenExecutable, place.executable);
    if (place.where.directory.empty())
        place.error = "Vantrel finds no private folder for its cache: there is no home directory, or its data "
                      "folder (~/.local/share/vantrel) is not yours alone. Set HOME, or name a folder of your own "
                      "with VANTREL_PROGRAM_DIR; Exiting!";
    return place;
}

std::string LockUnavailableMessage(const std::string& programDir) {
    return "vantrel: cannot lock " + CProgramDirLock::LockPath(programDir) +
           "; a second copy started there would not be noticed";
}

} // namespace vantrel
