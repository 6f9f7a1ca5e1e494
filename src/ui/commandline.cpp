#include "ui/commandline.h"

#include <QCoreApplication>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "host/headlessapp.h"
#include "host/messagechannel.h"
#include "host/statusquery.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/system.h"
#include "ui/aboutdlg.h"

namespace vantrel {

namespace {

constexpr int kUsageErrorCode = 2;
constexpr std::string_view kProgramDirOption = "--program-dir";

std::optional<unsigned> ParseMessageNumber(std::string_view text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string CopiesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " running copy" : " running copies");
}

// `--post N [--program-dir DIR]`: every copy, or the one copy working in DIR.
int PostFromCommandLine(int argc, char** argv, int index) {
    std::optional<unsigned> wParam;
    if (index + 1 < argc)
        wParam = ParseMessageNumber(argv[index + 1]);
    if (!wParam) {
        std::cerr << "vantrel: --post needs a number from 0 to 4294967295\n";
        return kUsageErrorCode;
    }
    ChannelRequest request{std::to_string(*wParam), {}};
    for (int i = index + 2; i < argc; ++i) {
        std::string_view word = argv[i];
        if (word == kProgramDirOption && i + 1 < argc) {
            request.programDir = argv[++i];
        } else if (word.starts_with(std::string(kProgramDirOption) + "=")) {
            request.programDir = std::string(word.substr(kProgramDirOption.size() + 1));
        } else {
            std::cerr << "vantrel: --post takes only --program-dir DIR after its number, not \"" << word << "\"\n";
            return kUsageErrorCode;
        }
    }
    if (!request.programDir.empty() && !platform::IsDirectory(request.programDir)) {
        std::cerr << "vantrel: " << request.programDir << " is not a directory\n";
        return kUsageErrorCode;
    }
    // The local sockets need the toolkit's core; no display is opened.
    std::unique_ptr<QCoreApplication> core;
    if (QCoreApplication::instance() == nullptr)
        core = std::make_unique<QCoreApplication>(argc, argv);
    std::size_t reached = 0;
    std::vector<std::string> refused;
    for (const CopyAnswer& answer : SendToAllCopies(GetChannelDirectory(), request)) {
        if (answer.reply == EChannelReply::Other)
            continue;
        ++reached;
        if (answer.reply == EChannelReply::Refused)
            refused.push_back(answer.programDir);
    }
    if (reached == 0) {
        std::cerr << "vantrel: no running Vantrel"
                  << (request.programDir.empty() ? std::string() : " in " + request.programDir) << " was reached\n";
        return 1;
    }
    std::cout << "vantrel: reached " << CopiesText(reached) << "\n";
    for (const std::string& dir : refused)
        std::cerr << "vantrel: the copy in " << dir
                  << " refused: a number field in its window holds a value it cannot take; correct it there\n";
    return refused.empty() ? 0 : 1;
}

// The headless program lies beside this one, or in the package's libexec folder; it replaces this
// process, so none of the toolkit's graphical libraries stay loaded.
int BecomeHeadless(char** argv) {
    const std::string own = platform::GetOwnExecutablePath();
    const std::string dir = platform::DirectoryPart(own);
    std::vector<std::string> candidates = {platform::JoinPath(dir, "vantrel-headless"),
                                           platform::JoinPath(dir, "../libexec/vantrel/vantrel-headless")};
    ::setenv(kProgramFileVariable, own.c_str(), 1);
    for (const std::string& candidate : candidates) {
        if (!platform::IsExecutableFile(candidate))
            continue;
        platform::ReplaceCurrentProgram(candidate, argv);
        std::cerr << "vantrel: cannot start the headless program " << candidate << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::cerr << "vantrel: the headless program (vantrel-headless) is not installed beside " << own << "\n";
    return 1;
}

bool IsHelpOption(std::string_view word) {
    return word == "--help" || word == "-h";
}

} // namespace

std::string UsageText() {
    return "Usage: vantrel [KEYWORD...]\n"
           "       vantrel --headless [KEYWORD...]\n"
           "       vantrel --post N [--program-dir DIR]\n"
           "       vantrel --status [--json | --prometheus] [--program-dir DIR]\n"
           "       vantrel --help | -h | --version\n"
           "\n"
           "Keeps a cache of ORVA work units in numbered directories of its program directory and drives\n"
           "the ORVA command-line client found there (or chosen at start). The program directory is the\n"
           "one the program lies in, or ~/.local/share/vantrel for an installed copy. Keywords may also\n"
           "stand one per line in the configuration file there (the program's name with \".cfg\"); the\n"
           "command line comes first. Keywords are found in any case. One copy runs per program\n"
           "directory: a second start there shows the running copy's window and exits.\n"
           "\n"
           "Keywords:\n"
           "  -auto                    transmit by itself when results wait or directories need filling\n"
           "  -min                     start minimised\n"
           "  -nohide                  run processing clients minimised instead of hidden\n"
           "  -DisplayTransmit         show the client of a transmit run\n"
           "  -cpu N                   run up to N processing clients (default: the processor count)\n"
           "  -affinity                bind each processing client to one processor\n"
           "  -runnormal, -runhigh     priority of the watched client (default: low)\n"
           "  -verbose                 show the progress of the watched work unit\n"
           "  -spy, -ORVASpy           copy the watched work unit's files for an outside monitor\n"
           "  -24hr                    show times on the 24-hour clock\n"
           "  -ORVALog                 log every finished result to ORVALog.csv\n"
           "  -proxy HOST[:PORT]       transmit through a proxy server\n"
           "  -socks_server HOST[:PORT]  transmit through a socks server, with\n"
           "  -socks_user NAME, -socks_passwd PASSWORD\n"
           "\n"
           "Other uses:\n"
           "  --post N                 send N to every running Vantrel of this user and exit\n"
           "                           (16 ends them); says how many it reached\n"
           "  --program-dir DIR        with --post: only the copy working in DIR; with --status: the\n"
           "                           copy of DIR (default: this program's program directory)\n"
           "  --headless               run without a window, a tray or a display (for a server);\n"
           "                           ends on SIGTERM, SIGINT or --post 16; cannot ask for a client\n"
           "  --status                 print the counters, the watched work unit, the transmit passes\n"
           "                           and the retry timer of the copy running in the program directory\n"
           "  --json, --prometheus     with --status: one JSON object, or Prometheus' text format\n"
           "  --help, -h               show this text and exit\n"
           "  --version                show the version and exit\n"
           "\n"
           "Exit codes: 0 done; 1 no client chosen (or none to use without a window), no display, another\n"
           "copy runs, --post reached no copy or a copy refused, or --status reached a copy that did not\n"
           "answer; 2 a mistyped command line; 3 --status found no copy running (it prints what the disk\n"
           "shows).\n"
           "\n"
           "Environment:\n"
           "  VANTREL_TIME_SCALE       factor for every duration the program waits (default 1)\n"
           "  VANTREL_PROGRAM_DIR      the program directory, named outright\n";
}

std::optional<int> RunCommandLineRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (IsHelpOption(word)) {
            std::cout << UsageText();
            return 0;
        }
        if (word == "--version") {
            std::cout << FormatVersionLine(CompiledVersion()).toStdString() << "\n";
            return 0;
        }
        if (word == "--post")
            return PostFromCommandLine(argc, argv, i);
        if (word == "--status")
            return StatusFromCommandLine(argc, argv);
    }
    // Keywords have one dash; a word with two is a mistyped or unknown option, never a keyword.
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--headless") {
            headless = true;
        } else if (word.starts_with("--") && word.size() > 2) {
            std::cerr << "vantrel: unknown option " << word << " (vantrel --help lists the options)\n";
            return kUsageErrorCode;
        }
    }
    if (headless)
        return BecomeHeadless(argv);
    return std::nullopt;
}

std::optional<int> CheckDisplay(int argc, char** argv) {
    std::string platformName;
    if (const char* fromEnv = std::getenv("QT_QPA_PLATFORM"))
        platformName = fromEnv;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0)
            platformName = argv[i + 1];
    }
    auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    bool missing = false;
    if (platformName.empty())
        missing = !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY");
    else if (platformName.starts_with("xcb"))
        missing = !isSet("DISPLAY");
    if (!missing)
        return std::nullopt;
    std::cerr << NoDisplayMessage() << "\n";
    return 1;
}

std::string NoDisplayMessage() {
    const char* display = std::getenv("DISPLAY");
    std::string which = display != nullptr && *display != '\0' ? std::string("the display ") + display
                                                                : std::string("a display (DISPLAY is not set)");
    return "vantrel: cannot open " + which + "; Vantrel needs a graphical desktop session";
}

} // namespace vantrel
