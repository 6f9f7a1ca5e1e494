#pragma once

#include <cstdint>
#include <string>

// What the simulated client does differently on Linux and on Windows; system_linux.cpp and
// system_win32.cpp hold the two ways.
namespace orvasim {

// The switch a copy of the client is started with to stand in for a left-behind child: it only
// sleeps until killed.
inline constexpr const char* kSleepUntilKilledSwitch = "--sleep-until-killed";

// The platform the client names in version.orv.
extern const char* const kPlatformName;

// Sets the process up before anything runs: output to a pipe nobody reads to the end must not
// end the run, and a crash must not wait for a dialog or leave a core file.
void PrepareProcess();

// Ends the run at once as a crashing client does (Linux: SIGABRT without a core file; Windows:
// abort, exit code 3, without an error report).
[[noreturn]] void AbortLikeACrash();

// The directory a run works in: the path it was started in and what that path names now.
struct DirectoryIdentity {
    std::string path;
    std::uint64_t volume = 0;
    std::uint64_t id = 0;
    bool linked = false; // the directory still has a name (not deleted)
    bool operator==(const DirectoryIdentity&) const = default;
};
DirectoryIdentity CurrentDirectoryIdentity();

// The default server directory: "orva-server" beside the executable, or in the user's data
// directory when the executable's folder may not be written; empty when the executable is unknown.
std::string DefaultServerDir();

// Leaves a child running that outlives the run: outside the instance directory, without
// VANTREL_CONSOLE_TITLE, its pid in kGrandchildFile. With ownSession it also leaves the run's
// session and process group (Linux: setsid) or, on Windows, the run's console and process group
// (a detached process), so that only the client group (cgroup or job) still holds it.
void LeaveGrandchild(bool ownSession);

} // namespace orvasim
