#pragma once

#include <chrono>

namespace vantrel {

// Every duration the engine waits for, in one value. The defaults are the real ones; tests pass
// their own, and VANTREL_TIME_SCALE shrinks them all for demos and end-to-end runs.
struct Timings {
    std::chrono::milliseconds hangCheck{300'000};       // a client must write state.orv within this
    std::chrono::milliseconds transmitPause{30'000};    // before a transmit client is re-prioritised
    std::chrono::milliseconds retryInterval{21'600'000}; // the transmit retry timer
    std::chrono::milliseconds runnerSpacing{100};       // between two runners started by a restart
    std::chrono::milliseconds killPause{100};           // after each client terminated by title
    // After a failed pass the retry comes after firstRetry, doubling with every further failed
    // pass up to retryInterval, so a short outage is over soon and a long one costs little.
    std::chrono::milliseconds firstRetry{300'000};
    // How long a killed client may take to go (a process stuck in the kernel cannot), so that exit
    // and a runner's end never hang on it.
    std::chrono::milliseconds killWait{10'000};
    std::chrono::milliseconds noticeRepeat{3'600'000};  // one notification of a kind at most this often
    // A result whose row the log cannot take is held back at most this long, then sent without it:
    // a log that may come back is waited for, but not past the server's deadline for the work.
    std::chrono::milliseconds logHold{86'400'000};
    double factor = 1.0;                                // the real durations were scaled by this

    // A real duration scaled like the others, at least 1 ms.
    std::chrono::milliseconds Scale(std::chrono::milliseconds real) const;

    // Every duration multiplied by factor (> 0), each at least 1 ms; killWait stays as it is.
    Timings Scaled(double factor) const;

    // The defaults scaled by VANTREL_TIME_SCALE when it holds a positive number.
    static Timings FromEnvironment();
};

} // namespace vantrel
