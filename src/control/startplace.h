#pragma once

#include <string>

#include "platform/programdir.h"

// The first steps of every start: where the program file and its program directory are, and what
// is said when they cannot be found or locked.
namespace vantrel {

struct StartPlace {
    std::string executable;          // the program's own file
    platform::ProgramLocation where; // its program directory and its name
    std::string error;               // why the program cannot start; empty when it can
};

// givenExecutable: the program's file when the caller knows it, else the running executable.
// argv0: the first argument the program was started with.
StartPlace FindStartPlace(const std::string& givenExecutable, const std::string& argv0);

// The line on stderr when the lock file of programDir cannot be made.
std::string LockUnavailableMessage(const std::string& programDir);

} // namespace vantrel
