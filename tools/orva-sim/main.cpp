// A simulated ORVA command-line client, standing in for the real one in the demo and the tests.
// Run in an instance directory with "-stop_after_process" or "-stop_after_xfer"; see --help.
#include "core/clientcontract.h"
#include "knobs.h"
#include "platform/process.h" // only for the names of the variables the caller sets
#include "runs.h"
#include "server.h"

#include "system.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>
#include <vector>

namespace orvasim {

using namespace vantrel::contract;

namespace {

constexpr int kUsageError = 2;

struct Invocation {
    bool transmit = false;
    std::vector<std::string> words; // every argument, for the run record
};

// HOST, HOST: (the default port) or HOST:PORT with a port from 1 to 65535.
bool IsHostSpec(const std::string& spec) {
    if (spec.empty() || spec.front() == ':' ||
        std::any_of(spec.begin(), spec.end(), [](unsigned char c) { return c <= ' ' || c == 0x7f; }))
        return false;
    size_t colon = spec.find(':');
    if (colon == std::string::npos || spec.find(':', colon + 1) != std::string::npos)
        return true; // no port, or an IPv6 address
    std::string port = spec.substr(colon + 1);
    if (port.empty())
        return true;
    return port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos && std::stoul(port) >= 1 &&
           std::stoul(port) <= 65535;
}

bool ParseArguments(const std::vector<std::string>& words, Invocation& invocation, std::string& error) {
    invocation.words = words;
    int runs = 0;
    std::vector<std::string> seen;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == kStopAfterProcess || word == kStopAfterXfer) {
            ++runs;
            invocation.transmit = word == kStopAfterXfer;
            continue;
        }
        if (word != kProxySwitch && word != kSocksServerSwitch && word != kSocksUserSwitch &&
            word != kSocksPasswdSwitch) {
            error = "unknown switch \"" + word + "\"";
            return false;
        }
        if (std::find(seen.begin(), seen.end(), word) != seen.end()) {
            error = word + " given twice";
            return false;
        }
        seen.push_back(word);
        if (i + 1 == words.size()) {
            error = word + " needs a value";
            return false;
        }
        const std::string& value = words[++i];
        if ((word == kProxySwitch || word == kSocksServerSwitch) && !IsHostSpec(value)) {
            error = word + " needs HOST or HOST:PORT, got \"" + value + "\"";
            return false;
        }
    }
    auto given = [&](const char* name) { return std::find(seen.begin(), seen.end(), name) != seen.end(); };
    if (runs != 1)
        error = std::string("give exactly one of ") + kStopAfterProcess + " and " + kStopAfterXfer;
    else if (!seen.empty() && !invocation.transmit)
        error = "server switches belong to a transmit run (" + std::string(kStopAfterXfer) + ")";
    else if (given(kProxySwitch) && given(kSocksServerSwitch))
        error = std::string(kProxySwitch) + " and " + kSocksServerSwitch + " cannot be combined";
    else if ((given(kSocksUserSwitch) || given(kSocksPasswdSwitch)) && !given(kSocksServerSwitch))
        error = std::string(kSocksUserSwitch) + " and " + kSocksPasswdSwitch + " need " + kSocksServerSwitch;
    return error.empty();
}

// Keeps a record on one line: backslash, tabs, line ends and other control characters are
// escaped; so are blanks when escapeBlank is set (inside the list of arguments).
std::string Escape(const std::string& text, bool escapeBlank) {
    static const char* const kHex = "0123456789abcdef";
    std::string escaped;
    for (unsigned char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == ' ' && escapeBlank)
            escaped += "\\s";
        else if (c < ' ' || c == 0x7f)
            escaped += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
        else
            escaped += static_cast<char>(c);
    }
    return escaped;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// One line of runs.log: tab-separated fields, each NAME=value.
std::string RunRecord(const Invocation& invocation) {
    std::error_code ec;
    std::string dir = std::filesystem::current_path(ec).string();
    std::string args;
    for (const std::string& word : invocation.words)
        args += (args.empty() ? "" : " ") + Escape(word, true);
    auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
    return "time_ms=" + std::to_string(milliseconds.count()) + "\tpid=" + std::to_string(vantrel::platform::CurrentProcessId()) +
           "\trun=" + (invocation.transmit ? "transmit" : "process") + "\tdir=" + Escape(ec ? "?" : dir, false) +
           "\ttitle=" + Escape(Environment(vantrel::platform::kConsoleTitleVariable), false) +
           "\tshow=" + Escape(Environment(vantrel::platform::kShowCommandVariable), false) + "\targs=" + args + "\n";
}

void PrintHelp() {
    std::cout << "Usage: ORVA_sim_cmdline.exe -stop_after_process\n"
                 "       ORVA_sim_cmdline.exe -stop_after_xfer [-proxy HOST[:PORT] |\n"
                 "                 -socks_server HOST[:PORT] [-socks_user USER] [-socks_passwd PASS]]\n"
                 "A simulated ORVA client. It works in the current directory, holding lock.orv while it runs:\n"
                 "-stop_after_process turns work_unit.orv into result.orv, writing state.orv as it goes;\n"
                 "-stop_after_xfer sends result.orv to the server and fetches a new work_unit.orv\n"
                 "(not when stop_after_send.txt is present). Each run is recorded in runs.log in the\n"
                 "server directory. Exit codes: 0 done, 1 failed, 2 bad command line or knob.\n\n"
              << KnobsHelp();
}

} // namespace

void Say(const std::string& text) {
    std::cout << "ORVA sim: " << text << std::endl;
}

int Fail(const std::string& text) {
    std::cerr << "ORVA sim: " << text << std::endl;
    return 1;
}

void SleepSeconds(double seconds) {
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace orvasim

int main(int argc, char** argv) {
    using namespace orvasim;
    PrepareProcess();
    std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
    // A copy started to stand in for a child the run leaves behind.
    if (words.size() == 1 && words[0] == kSleepUntilKilledSwitch)
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    if (std::find(words.begin(), words.end(), "--help") != words.end()) {
        PrintHelp();
        return 0;
    }
    Invocation invocation;
    Knobs knobs;
    std::string error;
    if (!ParseArguments(words, invocation, error) || !LoadKnobs(kKnobsFile, knobs, error)) {
        std::cerr << "ORVA sim: " << error << "\n(--help lists the switches and knobs)" << std::endl;
        return kUsageError;
    }
    Server server(knobs.serverDir.empty() ? Server::DefaultDir() : knobs.serverDir);
    if (server.Dir().empty())
        return Fail(std::string("cannot find this program's directory; set ") + kServerVariable);
    if (!server.RecordRun(RunRecord(invocation)))
        Fail("cannot append to " + server.Dir() + "/" + kRunsLog);
    if (Failures failures = DrawFailures(knobs); failures.grandchild)
        LeaveGrandchild(failures.grandchildSession);
    DirectoryIdentity started = CurrentDirectoryIdentity();
    int code = invocation.transmit ? RunTransmit(knobs, server) : RunProcessing(knobs);
    // A client must never find its directory renamed or deleted under it: say so where the tests
    // look.
    if (DirectoryIdentity ended = CurrentDirectoryIdentity(); ended != started)
        server.RecordMoved("pid=" + std::to_string(vantrel::platform::CurrentProcessId()) + "\tstarted=" + Escape(started.path, false) +
                           "\tended=" + Escape(ended.path, false) + "\n");
    return code;
}
