#pragma once

#include <string>

// The simulated client's knobs: environment variables, each of which a "KEY=value" line in
// the instance's knobs file overrides, so one instance can misbehave while others run normally.
namespace orvasim {

inline constexpr const char* kKnobsFile = "orva_sim_knobs.txt";

struct Knobs {
    std::string serverDir;       // empty: "orva-server" beside the executable
    double processSeconds = 5.0; // wall time of a whole processing run
    double stateInterval = 0.5;  // seconds between two writes of the state file
    double transferSeconds = 0.3;
    double startSeconds = 0.0;   // a slow start: wall time before a run takes lock.orv
    // Chances (0 to 1) of each failure in one run; 1 means every run.
    double failTransfer = 0.0;
    double partialDownload = 0.0;
    double hang = 0.0;
    double crash = 0.0;
    double exitAtOnce = 0.0;      // not part of ORVA_SIM_FAIL_RATE
    double holdAfterResult = 0.0; // seconds
    // Chance that a run first starts a child of its own that leaves the instance directory, drops
    // its console title and runs until killed (its pid in kGrandchildFile), as a careless client
    // might; not part of ORVA_SIM_FAIL_RATE.
    double grandchild = 0.0;
    // Chance that such a child also starts a session of its own, as a daemon does, so that only
    // a cgroup still holds it together with its client.
    double grandchildSession = 0.0;
};

inline constexpr const char* kGrandchildFile = "orva_sim_grandchild.pid";

// Reads the environment, then the knobs file at knobsFilePath when it exists. False with a
// message naming the knob when a value is bad or the file names an unknown knob.
bool LoadKnobs(const std::string& knobsFilePath, Knobs& knobs, std::string& error);

// The knobs with their meaning and default, for --help.
std::string KnobsHelp();

// The failures chosen for one run, each drawn with its knob's chance.
struct Failures {
    bool failTransfer = false;
    bool partialDownload = false;
    bool hang = false;
    bool crash = false;
    bool exitAtOnce = false;
    bool grandchild = false;
    bool grandchildSession = false;
};

// Draws from a generator seeded with the process id and the time, so concurrent runs differ.
Failures DrawFailures(const Knobs& knobs);

} // namespace orvasim
