// A tiny processing client for the engine tests. Like the real one it holds "lock.orv" open while
// it runs and writes "state.orv"; what else it does comes from "engine_client.txt" in its
// directory, one "key=value" a line:
//   state_writes=N        write state.orv N times (default 0: never), ...
//   state_interval_ms=M   ... M ms apart, the first M ms after the start (default 10)
//   run_ms=T              finish after T ms: write result.orv, delete work_unit.orv, exit 0
//                         (default -1: run until killed)
//   exit_now=1            exit 1 at once, touching nothing (a client that cannot begin)
//   exit_ms=T             instead, end after T ms with exit code 1 and no result, like a client
//                         that fails (default -1: never)
// Every start appends one line to "client_starts.txt" in its directory: the pid, the argument
// count, the first argument, the console title and the show command, separated by tabs; and one
// line with the instance directory's name to "client_order.txt" in the directory above.
#include "platform/file.h"
#include "platform/process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace {

using namespace vantrel::platform;

std::map<std::string, long> ReadScript() {
    std::map<std::string, long> script;
    std::ifstream in("engine_client.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            script[line.substr(0, eq)] = std::strtol(line.c_str() + eq + 1, nullptr, 10);
    }
    return script;
}

long Get(const std::map<std::string, long>& script, const char* key, long fallback) {
    auto it = script.find(key);
    return it == script.end() ? fallback : it->second;
}

void Append(const char* path, const std::string& line) {
    FileOpenOptions options;
    options.write = true;
    options.create = true;
    options.append = true;
    // One write to a file opened for appending: lines of concurrent clients never interleave.
    OpenRegularFile(path, options).WriteAll(line + "\n");
}

void Write(const char* path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

void SleepMs(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Holds lock.orv as a client does, waiting while an earlier holder still has it.
File HoldLock() {
    FileOpenOptions options;
    options.write = true;
    options.create = true;
    return OpenRegularFileWaiting("lock.orv", options, std::chrono::minutes(1));
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "-";
}

std::string DirectoryName() {
    std::error_code error;
    std::filesystem::path cwd = std::filesystem::current_path(error);
    return error ? "?" : cwd.filename().string();
}

} // namespace

int main(int argc, char** argv) {
    File lock = HoldLock();
    Append("client_starts.txt", std::to_string(CurrentProcessId()) + "\t" + std::to_string(argc) + "\t" +
                                    (argc > 1 ? argv[1] : "-") + "\t" + Env("VANTREL_CONSOLE_TITLE") + "\t" +
                                    Env("VANTREL_SHOW_COMMAND"));
    Append("../client_order.txt", DirectoryName());

    auto script = ReadScript();
    long writes = Get(script, "state_writes", 0);
    long interval = Get(script, "state_interval_ms", 10);
    long runMs = Get(script, "run_ms", -1);
    if (Get(script, "exit_now", 0) != 0)
        return 1;
    long exitMs = Get(script, "exit_ms", -1);
    if (exitMs >= 0)
        runMs = exitMs;

    long elapsed = 0;
    for (long i = 0; i < writes && (runMs < 0 || elapsed + interval < runMs); ++i) {
        SleepMs(interval);
        elapsed += interval;
        Write("state.orv", "prog=" + std::to_string(i + 1) + "\ncpu=1\n");
    }
    if (runMs < 0) {
        for (;;)
            SleepMs(60'000);
    }
    if (runMs > elapsed)
        SleepMs(runMs - elapsed);
    if (exitMs >= 0)
        return 1;
    Write("result.orv", "done\n");
    std::error_code ignored;
    std::filesystem::remove("work_unit.orv", ignored);
    return 0;
}
