#pragma once

#include "platform/programdir.h"

#include <functional>
#include <optional>
#include <string>

class QObject;

// The first steps of a start that both front ends take alike: where the program file and its
// program directory are, and what is said when they cannot be found or locked.
namespace vantrel {

class CMessageChannel;
class CEnginePump;
class CVantrelController;

struct StartPlace {
    std::string executable;          // the program's own file
    platform::ProgramLocation where; // its program directory and its name
    std::string error;               // why the program cannot start; empty when it can
};

// givenExecutable: the program's file when the caller knows it, else /proc/self/exe. argv0: the
// first argument the program was started with.
StartPlace FindStartPlace(const std::string& givenExecutable, const std::string& argv0);

// The line on stderr when the lock file of programDir cannot be made.
std::string LockUnavailableMessage(const std::string& programDir);

// Carries the channel's requests to the controller: numbers as the registered message, status
// requests answered with its status and the retry timer's remaining time. controller is read at
// each request, so it may come and go.
void ServeChannel(CMessageChannel& channel, QObject& context, std::function<CVantrelController*()> controller,
                  const CEnginePump& pump);

} // namespace vantrel
