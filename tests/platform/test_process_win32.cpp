#include "platform/detail_win32.h" // <windows.h> without the macros that clash with ours

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/event.h"
#include "platform/process.h"
#include "platform/wait.h"
#include "support/buildpaths.h"
#include "support/tempdir.h"
#include "support/wait.h"


// Clients on Windows: started in a console of their own and a job, found again by that job (also
// after the copy that started them was killed), ended with their whole tree, re-prioritised and
// pinned; every check reads the client's own process, never a console host's.
namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::platform;

// A console client under Wine can take long to start or end on a busy machine; the limit only
// ends a failing test.
constexpr std::chrono::milliseconds kClientLimit = 60s;

bool IsRunning(DWORD pid) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return false;
    bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

// The program file a process runs, for messages.
std::string ImageOf(DWORD pid) {
    std::string image(4096, '\0');
    DWORD length = static_cast<DWORD>(image.size());
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return "(gone)";
    bool ok = ::QueryFullProcessImageNameA(process, 0, image.data(), &length);
    ::CloseHandle(process);
    if (!ok)
        return "(no name: error " + std::to_string(::GetLastError()) + ")";
    image.resize(length);
    return image;
}

DWORD ReadId(const std::string& path) {
    DWORD id = 0;
    std::ifstream(path) >> id;
    return id;
}

ProcessStartInfo TreeClient(const std::string& dir, const std::string& title, std::vector<std::string> args) {
    args.insert(args.begin(), test::build::kTreeChild);
    return {std::move(args), dir, title, SW_HIDE};
}

struct EndAtExit {
    ProcessHandle& handle;
    ~EndAtExit() { handle.Terminate(); }
};

TEST(ProcessWin32, AClientIsFoundByItsJobAndEndsWithItsWholeTree) {
    TempDir dir;
    MakeDirs(dir / "1");
    MakeDirs(dir / "2");
    const std::string ids = dir / "grandchild.id";
    ProcessHandle client = StartProcess(TreeClient(dir / "1", "ORVA 1", {"tree", ids}));
    ASSERT_TRUE(client.IsValid());
    EndAtExit end{client};
    ASSERT_TRUE(WaitUntil([&] { return ReadId(ids) != 0; }, kClientLimit));
    const DWORD grandchild = ReadId(ids);
    ASSERT_TRUE(IsRunning(grandchild));

    // Found in its own directory under its own title, as its own process.
    std::vector<ProcessHandle> found = FindProcessesByTitle("ORVA 1", dir / "1");
    std::vector<int> pids;
    for (const ProcessHandle& handle : found)
        pids.push_back(handle.Pid());
    EXPECT_NE(std::find(pids.begin(), pids.end(), client.Pid()), pids.end());
    EXPECT_NE(std::find(pids.begin(), pids.end(), static_cast<int>(grandchild)), pids.end());
    EXPECT_TRUE(FindProcessesByTitle("ORVA 1", dir / "2").empty());
    EXPECT_TRUE(FindProcessesByTitle("ORVA 2", dir / "1").empty());
    EXPECT_TRUE(FindProcessesByTitle("ORVA 1 - Transmit", dir / "1").empty());

    // Ending it ends what it started too.
    EXPECT_TRUE(client.Terminate());
    EXPECT_TRUE(client.WaitForExit(60s));
    EXPECT_TRUE(WaitUntil([&] { return !IsRunning(grandchild); }, kClientLimit));
    EXPECT_FALSE(client.IsAlive());
    EXPECT_TRUE(FindProcessesByTitle("ORVA 1", dir / "1").empty());
}

TEST(ProcessWin32, AClientLeftByAKilledCopyIsFoundAndEndedByItsJob) {
    TempDir dir;
    MakeDirs(dir / "3");
    const std::string ids = dir / "client.id";
    // The copy of the program runs outside any job of ours, as a program started by the user.
    std::string line = std::string("\"") + test::build::kTreeChild + "\" parent \"" + ids + "\" \"ORVA 3\" \"" +
                       (dir / "3") + "\" \"" + test::build::kTreeChild + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION copy{};
    ASSERT_TRUE(::CreateProcessA(test::build::kTreeChild, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &copy));
    ::CloseHandle(copy.hThread);
    ASSERT_TRUE(WaitUntil([&] { return ReadId(ids) != 0; }, kClientLimit));
    const DWORD client = ReadId(ids);
    ::TerminateProcess(copy.hProcess, 1);
    ASSERT_EQ(::WaitForSingleObject(copy.hProcess, 60000), WAIT_OBJECT_0);
    ::CloseHandle(copy.hProcess);
    // Whatever fails below, the client does not outlive the test.
    struct EndClient {
        DWORD pid;
        ~EndClient() {
            if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
                ::TerminateProcess(process, 1);
                ::CloseHandle(process);
            }
        }
    } endClient{client};
    ASSERT_TRUE(IsRunning(client)); // killing a copy of the program never ends its clients

    // Found as itself, never as the console's host.
    std::vector<ProcessHandle> found = FindProcessesByTitle("ORVA 3", dir / "3");
    std::string names;
    for (const ProcessHandle& handle : found)
        names += " " + std::to_string(handle.Pid()) + "=" + ImageOf(static_cast<DWORD>(handle.Pid()));
    ASSERT_EQ(found.size(), 1u) << "found:" << names;
    EXPECT_EQ(found[0].Pid(), static_cast<int>(client));
    EXPECT_TRUE(found[0].Terminate());
    EXPECT_TRUE(WaitUntil([&] { return !IsRunning(client); }, kClientLimit));
}

TEST(ProcessWin32, PriorityClassAndAffinityAreReadBackFromTheClientItself) {
    TempDir dir;
    ProcessHandle client = StartProcess(TreeClient(dir.Path(), "ORVA 1", {"sleep"}));
    ASSERT_TRUE(client.IsValid());
    EndAtExit end{client};
    EXPECT_EQ(GetPriorityClass(client.Pid()), NORMAL_PRIORITY_CLASS);
    for (std::uint32_t priorityClass : {IDLE_PRIORITY_CLASS, HIGH_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS}) {
        bool refused = false;
        EXPECT_TRUE(SetPriorityClass(client, priorityClass, &refused));
        EXPECT_FALSE(refused);
        EXPECT_EQ(GetPriorityClass(client.Pid()), priorityClass);
    }

    std::vector<unsigned> own = GetOwnProcessors();
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(GetProcessorsOf(client.Pid()), own);
    EXPECT_TRUE(SetProcessAffinity(client, {own.front()}));
    EXPECT_EQ(GetProcessorsOf(client.Pid()), std::vector<unsigned>{own.front()});
    EXPECT_FALSE(SetProcessAffinity(client, {}));
    EXPECT_EQ(GetProcessorsOf(client.Pid()), std::vector<unsigned>{own.front()});
}

TEST(ProcessWin32, StartFailsAtOnceWithoutItsDirectoryOrProgram) {
    TempDir dir;
    EXPECT_FALSE(StartProcess(TreeClient(dir / "missing", "ORVA 1", {"sleep"})).IsValid());
    EXPECT_FALSE(StartProcess(TreeClient("", "ORVA 1", {"sleep"})).IsValid());
    EXPECT_FALSE(StartProcess({{dir / "none.exe"}, dir.Path(), "ORVA 1", SW_HIDE}).IsValid());
}

TEST(ProcessWin32, WaitsEndWithTheProcessTheEventOrTheTimeout) {
    TempDir dir;
    ProcessHandle client = StartProcess(TreeClient(dir.Path(), "ORVA 1", {"sleep"}));
    ASSERT_TRUE(client.IsValid());
    EndAtExit end{client};
    CEvent event;
    EXPECT_FALSE(client.WaitForExit(0ms));
    EXPECT_EQ(WaitForAny({client.ExitHandle(), event.Handle()}, 10ms), kWaitTimeout);
    event.Set();
    EXPECT_EQ(client.WaitForExitOrEvent(event), ProcessHandle::WaitResult::EventSet);
    EXPECT_TRUE(client.Terminate());
    // Both ready: the earlier handle, the process's end, wins.
    EXPECT_EQ(client.WaitForExitOrEvent(event), ProcessHandle::WaitResult::Exited);
    EXPECT_EQ(WaitForAny({WaitHandle{}, event.Handle()}), kWaitFailed);
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(client.Terminate()); // ended already
}

} // namespace
} // namespace vantrel::test
