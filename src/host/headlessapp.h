#pragma once

#include "host/enginepump.h"
#include "host/localcopychannel.h"
#include "host/signalstop.h"

#include <memory>
#include <string>
#include <vector>

class QCoreApplication;

namespace vantrel {

// `vantrel --headless`: the same session, engine, options and configuration file as the desktop
// program, without a window, a tray or any of the toolkit's graphical parts. What a box would ask
// ends the start with a message on stderr and exit code 1. It ends as Exit does on SIGTERM,
// SIGINT, SIGHUP or `vantrel --post 16`.
class CHeadlessApp final {
public:
    // argv: the process's own; "--headless" among them is not a keyword and is left out.
    CHeadlessApp(int& argc, char** argv);
    ~CHeadlessApp();
    CHeadlessApp(const CHeadlessApp&) = delete;
    CHeadlessApp& operator=(const CHeadlessApp&) = delete;

    // Runs the program once; the process's exit code.
    int Run();

private:
    std::string m_strArgv0;
    std::vector<std::string> m_arguments;
    std::unique_ptr<QCoreApplication> m_app; // before every object of the toolkit
    // What the session is given, made before it and gone after it.
    CEnginePump m_pump;
    CLocalCopyChannel m_channel;
    CSignalStop m_stopRequests;
};

// The environment variable through which `vantrel --headless` names its own program file to the
// headless program it becomes.
inline constexpr const char* kProgramFileVariable = "VANTREL_PROGRAM_FILE";

} // namespace vantrel
