#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/tempdir.h"

// The real program in a program directory of its own, as a user would run it: the built vantrel
// with the simulated client beside it, so the store finds the client by itself.
namespace vantrel::soak {

using e2e::Environment;

class CProgramDir {
public:
    // Creates instances 1..instances, empty.
    explicit CProgramDir(unsigned instances);
    // Kills every process still working beneath the program directory (transmit clients left
    // by a killed program, or anything a failed test left running).
    ~CProgramDir();
    CProgramDir(const CProgramDir&) = delete;
    CProgramDir& operator=(const CProgramDir&) = delete;

    const std::string& Path() const { return m_program; }
    // The simulated project server: outside the program directory, so it is never an instance.
    const std::string& ServerDir() const { return m_server; }
    std::string InstancePath(unsigned n) const;
    // The prog= figure of instance n's state file; 0 without one.
    double Progress(unsigned n) const;
    // Where each start's output goes.
    std::string LogPath(const std::string& name) const;

    // Hands the program directory, the server and the runtime directory to an ordinary user; the
    // program then starts (and `--post` runs) as that user, through setpriv, without any extra
    // right. False when that cannot be done (no setpriv, not root). Linux only.
    bool RunAs(unsigned uid, unsigned gid);

    // Words every start of the program gets before the environment's (for example "--headless";
    // on Windows that is the default).
    void SetProgramArguments(std::vector<std::string> words) { m_args = std::move(words); }
    // The program with these words (`--status --json`), run to its end; exit code and stdout.
    e2e::RunResult RunProgram(const std::vector<std::string>& words) const;

    // The configuration file beside the program, with CR LF line ends.
    void WriteConfiguration(std::string_view keywords) const;

    // Starts vantrel in the program directory with the given extra environment (durations, knobs):
    // on Linux offscreen, with its own runtime directory (so `--post` reaches only this copy).
    std::unique_ptr<e2e::CChild> Start(const Environment& extra, const std::string& logName) const;
    // `vantrel --post 16` in the same runtime directory (on Windows: to every copy); its exit code.
    int PostExit() const;

    // The clients working beneath the program directory, with their console titles (on Windows as
    // each run of the simulated client told the server).
    std::vector<e2e::ClientProcess> Clients() const;

    // Starts the simulated client in instance n with one run switch ("-stop_after_process" or
    // "-stop_after_xfer"), the given console title (empty: none) and knobs, as a run of the
    // program would, using the same server.
    std::unique_ptr<e2e::CChild> StartClient(unsigned n, const std::string& runSwitch, const std::string& title,
                                             const Environment& knobs) const;
    // The same, waited for; the client's exit code, or -1 when it did not end within a minute.
    int RunClient(unsigned n, const std::string& runSwitch, const Environment& knobs) const;

private:
    // The program file in the program directory.
    std::string ProgramFile() const;
    // What only one system's program directory holds.
    void InstallSystemParts();
    // Makes a client the test started findable as the program's own client of instance n with
    // this title (on Windows the program finds its clients through the group it put them in).
    void AdoptClient(const e2e::CChild& client, unsigned n, const std::string& title) const;
    Environment BaseEnvironment() const;

    std::vector<std::string> WithUser(std::vector<std::string> argv) const;

    test::TempDir m_work;
    std::vector<std::string> m_runAs; // the setpriv words before the program, or none
    std::vector<std::string> m_args;
    std::string m_program;
    std::string m_runtime;
    std::string m_server;
    mutable std::vector<std::shared_ptr<void>> m_clientGroups; // held open while the test runs
};

// The program's file name in a program directory.
extern const char* const kProgramFileName;

// How long a simulated client may take here from its start to its first state.orv, on a busy
// machine: a test's time scale must leave the program's hang check at least this much.
std::chrono::milliseconds ClientStartAllowance();

// Ends the process at once; false when it could not be told to.
bool KillProcess(pid_t pid);

// "ORVA n" exactly: a processing client.
bool IsProcessingTitle(const std::string& title);
// "ORVA n - Transmit".
bool IsTransmitTitle(const std::string& title);
std::vector<pid_t> PidsWith(const std::vector<e2e::ClientProcess>& clients, bool (*titleTest)(const std::string&));

// The pid of the client with exactly this console title ("ORVA 3 - Transmit"); 0 when none runs.
pid_t ClientTitled(const CProgramDir& dir, const std::string& title);
// The processing client of instance n ("ORVA n"); 0 when none runs.
pid_t ClientOf(const CProgramDir& dir, unsigned n);
// The process the simulated client of instance n left running (ORVA_SIM_GRANDCHILD); 0 before.
pid_t GrandchildOf(const CProgramDir& dir, unsigned n);

// Waits, a minute at most, until find gives a live process for instances 1 and 2, the second one
// also passing ready.
bool WaitForBoth(const CProgramDir& dir, pid_t (*find)(const CProgramDir&, unsigned), pid_t& first, pid_t& second,
                 const std::function<bool(pid_t)>& ready);

// Whether the client of slot k runs on the k-th processor this program may use, for each k, within
// 20 seconds; true when there are fewer processors than clients.
bool EachOnItsSlotsProcessor(const std::vector<pid_t>& clients);

// Whether pid names a live process (a zombie has ended).
bool IsAlive(pid_t pid);

// Whether the client pid works in directory path: on Linux its working directory as /proc shows
// it; on Windows, where another process's working directory is not open to read, the directory its
// last run told the server, names compared as Windows compares them.
bool WorksIn(const CProgramDir& dir, pid_t pid, const std::string& path);

// A FIFO at path; false where the system has none (Windows) or it could not be made.
bool MakeFifo(const std::string& path);
bool IsFifo(const std::string& path);

// Ends the program at once (kill -9, on Windows TerminateProcess) and waits; true when it ended.
bool KillHard(e2e::CChild& program);

// The exit code of a program that ended normally within timeout; none otherwise.
std::optional<int> ExitCode(e2e::CChild& program, std::chrono::milliseconds timeout);

// Retires every instance of the cache and runs the program (with extra) until the cache has
// emptied, then ends it with `--post 16` and waits for every client: the work left is finished,
// sent and logged, and nothing new is fetched. Empty when all went so, otherwise what did not.
std::string DrainRetiredCache(const CProgramDir& dir, const Environment& extra, std::chrono::seconds timeout);

// Resident memory and open descriptors (on Windows: working set and handles) of a live process.
struct ProcessSample {
    long rssKb = 0;
    long fds = 0;
    double cpuSeconds = 0; // processor time used so far, user and system
};
std::optional<ProcessSample> SampleProcess(pid_t pid);

// One run of the simulated client, from the server's runs.log.
struct ClientRun {
    long long timeMs = 0;
    pid_t pid = 0;
    std::string run; // "process" or "transmit"
    std::string dir;
    std::string title; // the console title it was started with
};
std::vector<ClientRun> ReadRuns(const CProgramDir& dir);

} // namespace vantrel::soak
