#include "winui/win32.h"
#include "winui/wincommandline.h"

#include "control/statuscommand.h"
#include "platform/system.h"
#include "winui/winaboutdlg.h"
#include "winui/wincopychannel.h"
#include "winui/winheadlessapp.h"

#include <charconv>
#include <cstdio>
#include <iostream>
#include <string_view>

namespace vantrel {

namespace {

constexpr int kUsageErrorCode = 2;
// How the running copy's pipe begins an answer it could give.
constexpr std::string_view kStatusAnswered = "done\n";

// Whether the program was given a stream for which: a file or a pipe it was started with.
bool HasStream(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

// A program of the window subsystem has no console of its own: it writes to the one it was
// started from, when there is one. Output sent into a file or a pipe (a script reading
// `--status --json`) stays there; the console is joined all the same, so that its Ctrl+C and
// its close reach a copy whose lines go to a file.
void UseParentConsole() {
    const bool out = HasStream(STD_OUTPUT_HANDLE);
    const bool err = HasStream(STD_ERROR_HANDLE);
    if (!::AttachConsole(ATTACH_PARENT_PROCESS) || (out && err))
        return;
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
    std::ios::sync_with_stdio();
}

namespace {

// Whether window is the main dialog of a running copy, or the hidden window of one without a dialog.
bool IsVantrelDialog(HWND window) {
    char className[32] = {};
    char title[16] = {};
    ::GetClassNameA(window, className, sizeof className);
    ::GetWindowTextA(window, title, sizeof title);
    if (std::string_view(className) == CWinHeadlessApp::kWindowClass)
        return true;
    return std::string_view(className) == "#32770" && std::string_view(title).starts_with("Vantrel");
}

struct PostRequest {
    UINT message;
    WPARAM wParam;
    unsigned reached;
};

BOOL CALLBACK PostToWindow(HWND window, LPARAM parameter) {
    auto* request = reinterpret_cast<PostRequest*>(parameter);
    if (IsVantrelDialog(window) && ::PostMessageA(window, request->message, request->wParam, 0))
        ++request->reached;
    return TRUE;
}

int PostFromCommandLine(int argc, char** argv, int index) {
    unsigned wParam = 0;
    const std::string_view text = index + 1 < argc ? argv[index + 1] : "";
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), wParam);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || index + 2 != argc) {
        std::cerr << "vantrel: --post needs a number from 0 to 4294967295\n";
        return kUsageErrorCode;
    }
    // The registered message goes to every top-level window, as any program would send it; the
    // copies' own windows are counted.
    PostRequest request{CWinCopyChannel::RegisteredMessage(), wParam, 0};
    ::EnumWindows(&PostToWindow, reinterpret_cast<LPARAM>(&request));
    if (request.reached == 0) {
        std::cerr << "vantrel: no running Vantrel was reached\n";
        return 1;
    }
    std::cout << "vantrel: reached " << request.reached << (request.reached == 1 ? " running copy" : " running copies")
              << "\n";
    return 0;
}

} // namespace

std::string WindowsUsageText() {
    return "Usage: vantrel [KEYWORD...]\n"
           "       vantrel --headless [KEYWORD...]\n"
           "       vantrel --post N\n"
           "       vantrel --status [--json | --prometheus] [--program-dir DIR]\n"
           "       vantrel --help | -h | --version\n"
           "\n"
           "Keeps a cache of ORVA work units in numbered folders of its program folder and drives the\n"
           "ORVA command-line client found there (or chosen at start). The program folder is the one the\n"
           "program lies in, or %LOCALAPPDATA%\\Vantrel for an installed copy. Keywords may also stand one\n"
           "per line in the configuration file there (the program's name with \".cfg\"). One copy runs per\n"
           "program folder: a second start there shows the running copy's window and exits.\n"
           "\n"
           "Keywords: -auto -min -nohide -DisplayTransmit -cpu N -affinity -runnormal -runhigh -verbose\n"
           "          -spy -ORVASpy -24hr -ORVALog -proxy HOST[:PORT] -socks_server HOST[:PORT]\n"
           "          -socks_user NAME -socks_passwd PASSWORD\n"
           "\n"
           "  --headless      run without a window or a notification-area icon, writing to the console\n"
           "                  it was started from; ends on Ctrl+C, Ctrl+Break, the console's close or\n"
           "                  --post 16; cannot ask for a client\n"
           "  --status        print the counters of the copy running in the program folder (or DIR),\n"
           "                  as text, JSON or Prometheus text; read from the disk when none runs\n"
           "  --post N        send N to every running Vantrel of this user and exit (16 ends them)\n"
           "  --help, -h      show this text and exit\n"
           "  --version       show the version and exit\n";
}

std::optional<int> RunWindowsCommandLine(int argc, char** argv) {
    // --status has options of its own, which may stand before it.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--status")
            continue;
        UseParentConsole();
        return RunStatusCommand(argc, argv, [](const std::string& programDir) {
            std::vector<std::string> reports;
            const std::string answer = CWinCopyChannel::Ask(programDir, "status");
            if (answer.starts_with(kStatusAnswered))
                reports.push_back(answer.substr(kStatusAnswered.size()));
            return reports;
        });
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--help" || word == "-h" || word == "--version" || word == "--post" ||
            (word.starts_with("--") && word.size() > 2))
            UseParentConsole();
        if (word == "--help" || word == "-h") {
            std::cout << WindowsUsageText();
            return 0;
        }
        if (word == "--version") {
            std::cout << ReadVersionLine(platform::GetOwnExecutablePath()) << "\n";
            return 0;
        }
        if (word == "--post")
            return PostFromCommandLine(argc, argv, i);

        // Keywords have one dash; a word with two is a mistyped or unknown option.
        if (word.starts_with("--") && word.size() > 2 && word != "--headless") {
            std::cerr << "vantrel: unknown option " << word << " (vantrel --help lists the options)\n";
            return kUsageErrorCode;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--headless")
            return RunWindowsHeadless(argc, argv);
    }
    return std::nullopt;
}

} // namespace vantrel
