#pragma once

#include <optional>
#include <string>
#include <string_view>

// The simulated project server: a directory shared by every client run. It hands out numbered
// work units and keeps every result it receives; runs.log records each run of the client.
namespace orvasim {

inline constexpr const char* kServerVariable = "ORVA_SIM_SERVER";
inline constexpr const char* kRunsLog = "runs.log";
inline constexpr const char* kCounterFile = "wu_counter.txt";
inline constexpr const char* kReceivedDir = "received";
// Switches a test sets for a stretch by creating the file in the server directory.
inline constexpr const char* kUnreachableFile = "unreachable"; // no client can connect
inline constexpr const char* kNoWorkFile = "no_work";          // results are taken, no work handed out
// Runs whose working directory was renamed or deleted under them, one line each.
inline constexpr const char* kMovedLog = "moved.log";

class Server {
public:
    explicit Server(std::string dir) : m_dir(std::move(dir)) {}

    // "orva-server" beside this executable; empty when the executable cannot be found.
    static std::string DefaultDir();

    const std::string& Dir() const { return m_dir; }

    // Appends one line to runs.log (created with the directory when missing).
    bool RecordRun(std::string_view line) const;
    // Appends one line to moved.log.
    bool RecordMoved(std::string_view line) const;

    bool IsUnreachable() const;
    bool HasNoWork() const;

    // The next work-unit number, 1 for the first. The counter file is read and rewritten under
    // an exclusive flock, so concurrent clients never get the same number.
    std::optional<unsigned long> AllocateWorkUnitNumber(std::string& error) const;

    // Stores a result as received/wu-<number>.orv ("unnumbered.orv" without a number). The same
    // result sent again (a client stopped after its upload, before it deleted its copy) is
    // acknowledged without a second file; a different result for a taken name gets "-2", "-3", ...
    bool ReceiveResult(std::string_view content, const std::string& number, std::string& error) const;

private:
    // Creates the server directory, and sub below it when given.
    bool EnsureDir(const std::string& sub, std::string& error) const;

    std::string m_dir;
};

} // namespace orvasim
