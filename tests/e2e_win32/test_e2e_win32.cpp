// The Windows desktop program seen from outside: started in a program directory of its own with
// the simulated client, driven through its dialog's controls, processing a work unit, sending
// its result and logging it, and ended by `vantrel --post 16` with no client left behind.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/buildpaths.h"
#include "support/childprocess.h"
#include "support/wait.h"

namespace {

namespace fs = std::filesystem;
using vantrel::test::WaitUntil;

constexpr int IDC_DESIRED_CACHE_SIZE = 1000;
constexpr int IDC_MAX_PROCESSES = 1004;
constexpr int IDC_READY_TO_TRANSMIT = 1002;
constexpr int IDC_CURRENT_CACHE_SIZE = 1001;
constexpr int IDC_TRANSMIT = 1008;
constexpr int IDC_CREATE_LOG = 1046;
constexpr UINT kTrayIconId = 133;
constexpr int IDC_VERSION_LINE = 1055;
constexpr UINT kAboutCommand = 0x10; // the About item of the dialog's system menu
constexpr UINT kStartAtLoginCommand = 0x50; // "Start at login" in the system menu

// The user's Run-key value that starts Vantrel at login; empty when there is none.
std::string RunAtLoginValue() {
    const char* key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    DWORD size = 0;
    if (::RegGetValueA(HKEY_CURRENT_USER, key, "Vantrel", RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::string value(size, '\0');
    if (::RegGetValueA(HKEY_CURRENT_USER, key, "Vantrel", RRF_RT_REG_SZ, nullptr, value.data(), &size) != ERROR_SUCCESS)
        return {};
    return value.c_str();
}

// The whole program under Wine on a busy machine (its first start makes the prefix's windows
// and registry) can take long; the limit only ends a failing test.
constexpr std::chrono::milliseconds kProgramLimit = std::chrono::seconds(120);

std::string DialogText(HWND dialog, int id) {
    char text[256] = {};
    ::GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// The top-level window of process with this class (and title, unless null): another copy of the
// program may run beside the test.
HWND FindWindowOf(DWORD process, const char* className, const char* title) {
    struct Search {
        DWORD process;
        const char* className;
        const char* title;
        HWND found;
    } search{process, className, title, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            char windowClass[64] = {};
            char windowTitle[64] = {};
            ::GetClassNameA(window, windowClass, sizeof windowClass);
            ::GetWindowTextA(window, windowTitle, sizeof windowTitle);
            if (owner != s->process || std::string(windowClass) != s->className ||
                (s->title != nullptr && std::string(windowTitle) != s->title))
                return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A program directory with vantrel.exe and the simulated client beside it.
struct ProgramDir {
    fs::path dir;
    ProgramDir() {
        std::random_device random;
        dir = fs::temp_directory_path() / ("vantrel-e2e-" + std::to_string(random()));
        fs::create_directories(dir);
        fs::copy_file(vantrel::test::build::kProgram, dir / "vantrel.exe");
        fs::copy_file(vantrel::test::build::kOrvaSim, dir / "ORVA_sim_cmdline.exe");
        // Each transfer and run takes a moment only.
        std::ofstream(dir / "vantrel.cfg") << "-ORVALog\r\n-cpu 1\r\n";
    }
    ~ProgramDir() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

// The process ids of every running process with this executable name.
std::vector<DWORD> ProcessesNamed(const char* name) {
    std::vector<DWORD> found;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, name) == 0)
            found.push_back(entry.th32ProcessID);
    ::CloseHandle(snapshot);
    return found;
}

// Whether a balloon notification shows anywhere on the desktop (the shell draws it as a tooltip
// of its own, not in the program's process).
bool BalloonShows() {
    BOOL found = FALSE;
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            char className[64] = {};
            ::GetClassNameA(window, className, sizeof className);
            if (std::string(className) != TOOLTIPS_CLASSA || !::IsWindowVisible(window) ||
                (::GetWindowLongA(window, GWL_STYLE) & TTS_BALLOON) == 0)
                return TRUE;
            *reinterpret_cast<BOOL*>(parameter) = TRUE;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found != FALSE;
}

HANDLE Start(const fs::path& program, const std::string& arguments, const fs::path& cwd) {
    std::string line = "\"" + program.string() + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.string().c_str(), &startup,
                          &info))
        return nullptr;
    ::CloseHandle(info.hThread);
    return info.hProcess;
}

// A started program, ended by force when a failed check leaves the test early.
struct Started {
    HANDLE process;
    ~Started() {
        if (process == nullptr)
            return;
        if (::WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
            ::TerminateProcess(process, 1);
        ::CloseHandle(process);
    }
};

// The main dialog of process, once its initialisation has filled the fields and shown it.
HWND WaitForDialog(HANDLE process) {
    HWND dialog = nullptr;
    WaitUntil([&] {
        dialog = FindWindowOf(::GetProcessId(process), "#32770", "Vantrel");
        return dialog != nullptr && ::IsWindowVisible(dialog);
    }, kProgramLimit);
    return dialog != nullptr && ::IsWindowVisible(dialog) ? dialog : nullptr;
}

// `vantrel --post 16` from another process; its exit code.
DWORD PostExit(const fs::path& dir) {
    Started post{Start(dir / "vantrel.exe", "--post 16", dir)};
    if (post.process == nullptr || ::WaitForSingleObject(post.process, 30000) != WAIT_OBJECT_0)
        return 1000;
    DWORD code = 1000;
    ::GetExitCodeProcess(post.process, &code);
    return code;
}

struct Ran {
    int code = 1000;
    std::string output;
};

// Runs vantrel.exe with arguments to its end, its standard output into a pipe, as a script would.
Ran RunCapturing(const fs::path& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), (dir / "vantrel.exe").string());
    vantrel::test::TestChild program(arguments, dir.string());
    program.CloseInput();
    Ran ran;
    ran.output = program.ReadToEnd();
    ran.code = vantrel::test::ChildExitCode(program.Wait());
    return ran;
}

TEST(EndToEndWindows, KeepsTheDialogsPlaceAndAnswersTheStatusOfItsProgramDirectory) {
    ProgramDir program;
    // The places are kept per user: this user's are the test's own.
    ::SetEnvironmentVariableA("APPDATA", (program.dir / "appdata").string().c_str());
    fs::create_directories(program.dir / "appdata");
    POINT moved{};
    {
        Started first{Start(program.dir / "vantrel.exe", "", program.dir)};
        HWND dialog = WaitForDialog(first.process);
        ASSERT_NE(dialog, nullptr);
        RECT before{};
        ::GetWindowRect(dialog, &before);
        moved = {before.left + 37, before.top + 41};
        // A script asks the running copy, over its pipe, and reads the answer from its own pipe.
        const Ran status = RunCapturing(program.dir, {"--status", "--json"});
        EXPECT_EQ(status.code, 0) << status.output;
        EXPECT_NE(status.output.find("\"running\": true"), std::string::npos) << status.output;
        const Ran prometheus = RunCapturing(program.dir, {"--prometheus", "--status"});
        EXPECT_NE(prometheus.output.find("vantrel_up{"), std::string::npos) << prometheus.output;
        EXPECT_NE(prometheus.output.find("} 1"), std::string::npos) << prometheus.output;
        ::SetWindowPos(dialog, nullptr, moved.x, moved.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ASSERT_EQ(PostExit(program.dir), 0u);
        ASSERT_EQ(::WaitForSingleObject(first.process, 60000), WAIT_OBJECT_0);
    }
    EXPECT_TRUE(fs::exists(program.dir / "appdata" / "Vantrel" / "windows.ini"));
    // With none running the disk answers, and the exit code says so.
    const Ran alone = RunCapturing(program.dir, {"--status"});
    EXPECT_EQ(alone.code, 3) << alone.output;
    EXPECT_NE(alone.output.find("Current Cache Size:"), std::string::npos) << alone.output;
    Started second{Start(program.dir / "vantrel.exe", "", program.dir)};
    HWND dialog = WaitForDialog(second.process);
    ASSERT_NE(dialog, nullptr);
    RECT again{};
    ::GetWindowRect(dialog, &again);
    EXPECT_EQ(again.left, moved.x);
    EXPECT_EQ(again.top, moved.y);
    EXPECT_EQ(PostExit(program.dir), 0u);
    EXPECT_EQ(::WaitForSingleObject(second.process, 60000), WAIT_OBJECT_0);
}

TEST(EndToEndWindows, ProcessesTransmitsLogsAndEndsOnThePostedExit) {
    ProgramDir program;
    ::SetEnvironmentVariableA("VANTREL_TIME_SCALE", "0.01");
    ::SetEnvironmentVariableA("ORVA_SIM_PROCESS_SECONDS", "1");
    ::SetEnvironmentVariableA("ORVA_SIM_TRANSFER_SECONDS", "0.1");
    Started started{Start(program.dir / "vantrel.exe", "", program.dir)};
    HANDLE vantrel = started.process;
    ASSERT_NE(vantrel, nullptr);

    const DWORD process = ::GetProcessId(vantrel);
    HWND dialog = WaitForDialog(vantrel);
    ASSERT_NE(dialog, nullptr);

    // The About box, from the system menu, names the version of the executable's resource.
    ::PostMessageA(dialog, WM_SYSCOMMAND, kAboutCommand, 0);
    HWND about = nullptr;
    // The box exists before its initialisation has filled in the version line.
    ASSERT_TRUE(WaitUntil([&] {
        about = FindWindowOf(process, "#32770", "About Vantrel");
        return about != nullptr && !DialogText(about, IDC_VERSION_LINE).empty();
    }, kProgramLimit));
    std::string version = "Vantrel " + std::to_string(VANTREL_VERSION_MAJOR) + "." + std::to_string(VANTREL_VERSION_MINOR) +
                          "." + std::to_string(VANTREL_VERSION_PATCH) + "." + std::to_string(VANTREL_VERSION_TWEAK);
    if (VANTREL_PRERELEASE)
        version += " BETA";
    EXPECT_EQ(DialogText(about, IDC_VERSION_LINE), version);
    ::PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(about); }, kProgramLimit));

    // "Start at login" writes the Run key's value that starts this copy minimised, and takes it
    // away again.
    ASSERT_EQ(RunAtLoginValue(), "");
    ::PostMessageA(dialog, WM_SYSCOMMAND, kStartAtLoginCommand, 0);
    std::string atLogin;
    EXPECT_TRUE(WaitUntil([&] { return !(atLogin = RunAtLoginValue()).empty(); }, kProgramLimit));
    const std::string own = "\"" + (program.dir / "vantrel.exe").string() + "\" -min";
    EXPECT_EQ(::_stricmp(atLogin.c_str(), own.c_str()), 0) << atLogin << " is not " << own;
    ::PostMessageA(dialog, WM_SYSCOMMAND, kStartAtLoginCommand, 0);
    EXPECT_TRUE(WaitUntil([&] { return RunAtLoginValue().empty(); }, kProgramLimit));

    // The notification-area icon is there: the shell takes a change of it only then.
    HWND trayWindow = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (trayWindow = FindWindowOf(process, "VantrelTrayWindow", nullptr)) != nullptr; }, kProgramLimit));
    NOTIFYICONDATAA probe{};
    probe.cbSize = sizeof probe;
    probe.hWnd = trayWindow;
    probe.uID = kTrayIconId;
    // A taskbar that starts after the program gets the icon once it says so ("TaskbarCreated").
    EXPECT_TRUE(WaitUntil([&] { return ::Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE; }, std::chrono::seconds(60)))
        << "the icon was not added";
    // A taskbar that restarts has lost every icon and says so to every top-level window; the
    // program adds its icon again.
    ASSERT_NE(::Shell_NotifyIconA(NIM_DELETE, &probe), FALSE);
    EXPECT_EQ(::Shell_NotifyIconA(NIM_MODIFY, &probe), FALSE) << "the icon outlived its removal";
    ::SendMessageA(trayWindow, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return ::Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE; }, kProgramLimit))
        << "the icon was not added again after the taskbar restarted";

    // Its menu: the items the icon's right button shows, in order.
    HMODULE resources = ::LoadLibraryExA((program.dir / "vantrel.exe").string().c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, nullptr);
    HMENU menu = ::LoadMenuA(resources, MAKEINTRESOURCEA(kTrayIconId));
    ASSERT_NE(menu, nullptr);
    HMENU popup = ::GetSubMenu(menu, 0);
    const UINT expected[] = {32775, 0, 32776, 32774, 0, 32779, 0, 32772, 32773};
    ASSERT_EQ(::GetMenuItemCount(popup), static_cast<int>(std::size(expected)));
    for (int i = 0; i < static_cast<int>(std::size(expected)); ++i)
        EXPECT_EQ(expected[i] == 0 ? 0u : ::GetMenuItemID(popup, i), expected[i]) << "item " << i;
    ::DestroyMenu(menu);
    ::FreeLibrary(resources);

    // One instance, filled by a pass the user starts, then processed; its result sent in the next.
    ::SetDlgItemTextA(dialog, IDC_DESIRED_CACHE_SIZE, "1");
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return DialogText(dialog, IDC_CURRENT_CACHE_SIZE) == "1"; }, kProgramLimit));
    EXPECT_EQ(::IsDlgButtonChecked(dialog, IDC_CREATE_LOG), static_cast<UINT>(BST_CHECKED));
    ::SendDlgItemMessageA(dialog, IDC_TRANSMIT, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return DialogText(dialog, IDC_READY_TO_TRANSMIT) == "1"; }, kProgramLimit))
        << "no result came: " << DialogText(dialog, IDC_READY_TO_TRANSMIT);
    ASSERT_TRUE(WaitUntil([&] { return DialogText(dialog, IDC_TRANSMIT) == "Transmit"; }, kProgramLimit));
    ::SendDlgItemMessageA(dialog, IDC_TRANSMIT, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] {
        std::ifstream log(program.dir / "ORVALog.csv");
        std::string header, row;
        return std::getline(log, header) && std::getline(log, row) && !row.empty();
    }, kProgramLimit)) << "the result was not logged";
    EXPECT_TRUE(WaitUntil([&] { return DialogText(dialog, IDC_READY_TO_TRANSMIT) == "0"; }, kProgramLimit));

    // Another program asks every copy to end.
    EXPECT_EQ(PostExit(program.dir), 0u);
    EXPECT_EQ(::WaitForSingleObject(vantrel, 60000), WAIT_OBJECT_0);
    // The processing clients went with the program.
    EXPECT_TRUE(WaitUntil([] { return ProcessesNamed("ORVA_sim_cmdline.exe").empty(); }, std::chrono::seconds(30)));
}

TEST(EndToEndWindows, ShowsAClientThatKeepsEndingAtOnceAsABalloon) {
    ProgramDir program;
    // Problems are told, and every processing run of the client ends at once without working.
    std::ofstream(program.dir / "vantrel.cfg", std::ios::app) << "-NOTIFY\r\n";
    ::SetEnvironmentVariableA("VANTREL_TIME_SCALE", "0.01");
    ::SetEnvironmentVariableA("ORVA_SIM_TRANSFER_SECONDS", "0.1");
    ::SetEnvironmentVariableA("ORVA_SIM_EXIT_AT_ONCE", "1");
    Started started{Start(program.dir / "vantrel.exe", "", program.dir)};
    HWND dialog = WaitForDialog(started.process);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return FindWindowOf(::GetProcessId(started.process), "VantrelTrayWindow", nullptr) != nullptr; },
                          kProgramLimit));
    EXPECT_FALSE(BalloonShows()) << "a balloon before any problem";

    ::SetDlgItemTextA(dialog, IDC_DESIRED_CACHE_SIZE, "1");
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return DialogText(dialog, IDC_CURRENT_CACHE_SIZE) == "1"; }, kProgramLimit));
    // A pass fetches the work unit the client then fails to work on.
    ::SendDlgItemMessageA(dialog, IDC_TRANSMIT, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil(BalloonShows, kProgramLimit)) << "no balloon told of the client that ends at once";

    EXPECT_EQ(PostExit(program.dir), 0u);
    EXPECT_EQ(::WaitForSingleObject(started.process, 60000), WAIT_OBJECT_0);
    EXPECT_TRUE(WaitUntil([] { return ProcessesNamed("ORVA_sim_cmdline.exe").empty(); }, std::chrono::seconds(30)));
}

} // namespace
