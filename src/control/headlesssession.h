#pragma once

#include <functional>
#include <string>
#include <vector>

#include "control/programsession.h"

// What both programs without a window share, whatever loop drives them: the choice of client that
// cannot ask, the front end with no view, and the lines said at the start and at the end.
namespace vantrel {

// The message a headless start gives when it would have to ask for the client.
std::string HeadlessNoClientMessage(const std::string& programDir);

// The option keywords of a headless start: the words after the program name, without "--headless".
std::vector<std::string> HeadlessKeywords(int argc, char** argv);

// The front end of a copy without a window: no view, no box (what one would ask ends the start
// with a message on stderr), problem notices on stderr, and a copy already running in the program
// directory is never asked to show a window.
ProgramFrontEnd MakeHeadlessFrontEnd(IScheduler& scheduler, ICopyChannel& channel, IStopRequests& stopRequests);

// Starts the session, says so once it answers other programs, runs the front end's loop until the
// session has ended (runLoop returns then), ends it as Exit does and says so. The process's exit
// code.
int RunHeadlessSession(ProgramFrontEnd frontEnd, const std::function<void(CProgramSession&)>& runLoop);

} // namespace vantrel
