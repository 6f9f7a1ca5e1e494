#pragma once

#include <functional>
#include <string>

namespace vantrel {

class CProgramSession;

// The other running copies of this user, however the system carries their requests (a local
// socket on Linux; the registered window message and a named pipe on Windows).
class ICopyChannel {
public:
    enum class EHandOver {
        Shown,    // the copy holding the directory shows its window
        NoWindow, // it runs without a window (vantrel --headless)
        NoAnswer, // none answered (yet)
    };

    virtual ~ICopyChannel() = default;

    // Another copy holds programDir: asks it to show its window. Waits only a moment.
    virtual EHandOver AskToShow(const std::string& programDir) = 0;
    // Starts answering other copies' requests for session (on the front end's thread); false
    // when they cannot reach this copy. The program runs on either way.
    virtual bool Serve(CProgramSession& session) = 0;
    // Tells the other copies this one has started, without waiting on them; each that works in
    // another program directory is handed to the session's OtherCopyStarted on its thread.
    virtual void Greet(const std::string& programDir) = 0;
    // Stops answering and greeting; nothing reaches the session after it returns.
    virtual void StopServing() = 0;
    // Where the channel lives, for a message when Serve fails.
    virtual std::string Where() const = 0;
};

// Something outside that asks the program to end: a termination signal, a service stop.
class IStopRequests {
public:
    virtual ~IStopRequests() = default;
    // From now on each request calls onStop on the front end's thread.
    virtual void Watch(std::function<void()> onStop) = 0;
    // No more calls after it returns.
    virtual void StopWatching() = 0;
};

} // namespace vantrel
