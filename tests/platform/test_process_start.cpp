#include "platform/event.h"
#include "platform/process.h"
#include "platform/wait_linux.h"
#include "support/buildpaths.h"
#include "support/childprocess.h"
#include "support/tempdir.h"
#include "test_process_util.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using platform::ProcessHandle;
using platform::StartProcess;
using Wait = ProcessHandle::WaitResult;

std::string StatusField(pid_t pid, const std::string& key) {
    std::string status = ReadFile(ProcPath(pid, "status"));
    std::size_t at = status.find("\n" + key + ":\t") + key.size() + 3;
    return status.substr(at, status.find('\n', at) - at);
}

TEST(ProcessStart, ChildGetsItsDirectoryTitleSessionAndNothingElseOfOurs) {
    TempDir dir;
    // What the client must not inherit: a stale title, an open descriptor, a blocked and an
    // ignored signal.
    setenv(platform::kConsoleTitleVariable, "stale", 1);
    int leaked = open("/dev/zero", O_RDONLY);
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    auto oldPipe = signal(SIGPIPE, SIG_IGN);
    ProcessHandle client = StartProcess(SleepClient(dir.Path(), "ORVA 7"));
    signal(SIGPIPE, oldPipe);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(leaked);
    unsetenv(platform::kConsoleTitleVariable);
    ASSERT_TRUE(client.IsValid());
    KillAtEnd end{client};
    const pid_t pid = client.Pid();

    EXPECT_EQ(platform::detail::ReadLinkPath(ProcPath(pid, "cwd")), Canonical(dir.Path()));
    std::string env = ReadFile(ProcPath(pid, "environ"));
    EXPECT_NE(env.find(std::string("\0VANTREL_CONSOLE_TITLE=ORVA 7\0", 30)), std::string::npos);
    EXPECT_NE(env.find(std::string("\0VANTREL_SHOW_COMMAND=0\0", 24)), std::string::npos);
    EXPECT_EQ(env.find("=stale"), std::string::npos);
    EXPECT_NE(env.find("PATH="), std::string::npos);
    EXPECT_EQ(getsid(pid), pid);
    // The program may open files of its own while it starts; ours must never show up.
    auto fds = [pid] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(ProcPath(pid, "fd")))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_TRUE(WaitUntil([&] { return fds() == std::vector<std::string>{"0", "1", "2"}; }));
    for (const char* fd : {"fd/0", "fd/1", "fd/2"})
        EXPECT_EQ(platform::detail::ReadLinkPath(ProcPath(pid, fd)), "/dev/null");
    EXPECT_EQ(StatusField(pid, "SigBlk"), "0000000000000000");
    // The C library keeps its two internal signals (32, 33) ignored; the standard ones are reset.
    EXPECT_EQ(std::stoull(StatusField(pid, "SigIgn"), nullptr, 16) & 0x7fffffffu, 0u);
}

TEST(ProcessStart, FailureIsReportedAtOnceAndNothingRunsElsewhere) {
    TempDir dir;
    WriteFile(dir / "plain", "not a program");
    WriteFile(dir / "script", "touch ran\n"); // no interpreter line: it would need a shell
    chmod((dir / "script").c_str(), 0755);
    MakeDirs(dir / "work");
    std::filesystem::create_symlink("/bin/touch", dir / "toucher");
    const std::string previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    auto start = [&](std::vector<std::string> argv, const std::string& cwd) {
        return StartProcess({std::move(argv), cwd, "ORVA 1", platform::SW_HIDE});
    };
    EXPECT_FALSE(start({dir / "missing"}, dir / "work").IsValid());
    EXPECT_FALSE(start({dir / "plain"}, dir / "work").IsValid());
    EXPECT_FALSE(start({dir / "work"}, dir / "work").IsValid());
    EXPECT_FALSE(start({dir / "script"}, dir / "work").IsValid());
    EXPECT_FALSE(start({"/bin/touch", "ran"}, dir / "no-such-dir").IsValid());
    EXPECT_FALSE(start({"/bin/touch", "ran"}, "").IsValid());
    EXPECT_FALSE(start({}, dir / "work").IsValid());
    // A relative executable is taken from where we are, not from the child's directory.
    ProcessHandle relative = start({"./toucher", "ran"}, dir / "work");
    std::filesystem::current_path(previous);
    ASSERT_TRUE(relative.IsValid());
    EXPECT_TRUE(relative.WaitForExit(20s));
    EXPECT_TRUE(std::filesystem::exists(dir / "work/ran"));
    EXPECT_FALSE(std::filesystem::exists(dir / "ran"));
}

TEST(ProcessWait, TimeoutEventTerminateAndBothReady) {
    TempDir dir;
    ProcessHandle client = StartProcess(SleepClient(dir.Path(), "ORVA 1"));
    ASSERT_TRUE(client.IsValid());
    KillAtEnd end{client};
    platform::CEvent event;
    EXPECT_FALSE(client.WaitForExit(30ms));
    event.Set();
    EXPECT_EQ(client.WaitForExitOrEvent(event), Wait::EventSet);
    EXPECT_TRUE(client.IsAlive());
    event.Reset();
    // Ended from another thread through a handle found by title, while we wait.
    std::thread killer([&dir] { platform::FindProcessesByTitle("ORVA 1", dir.Path()).at(0).Terminate(); });
    EXPECT_EQ(client.WaitForExitOrEvent(event), Wait::Exited);
    killer.join();
    EXPECT_FALSE(client.IsAlive());
    EXPECT_TRUE(IsReaped(client.Pid()));
    EXPECT_TRUE(client.WaitForExit(0ms));
    EXPECT_FALSE(client.Terminate());

    // Ended and the event set as well: the end wins.
    ProcessHandle quick = StartProcess({{"/bin/true"}, dir.Path(), "ORVA 2", platform::SW_HIDE});
    pollfd ended{platform::FdOf(quick.ExitHandle()), POLLIN, 0};
    ASSERT_EQ(poll(&ended, 1, 20000), 1);
    event.Set();
    EXPECT_EQ(quick.WaitForExitOrEvent(event), Wait::Exited);
    EXPECT_TRUE(IsReaped(quick.Pid()));

    ProcessHandle none;
    EXPECT_FALSE(none.WaitForExit(0ms));
    EXPECT_EQ(none.WaitForExitOrEvent(event), Wait::Failed);
    EXPECT_FALSE(none.Terminate() || none.IsAlive());
}

TEST(ProcessReap, NoZombieStaysWhicheverHandleSeesTheEnd) {
    TempDir dir;
    // Killed through a found handle: that handle must not reap, the one that started it does.
    ProcessHandle owner = StartProcess(SleepClient(dir.Path(), "ORVA 1"));
    ASSERT_TRUE(owner.IsValid());
    {
        auto found = platform::FindProcessesByTitle("ORVA 1", dir.Path());
        ASSERT_EQ(found.size(), 1u);
        EXPECT_TRUE(found[0].Terminate());
        EXPECT_TRUE(found[0].WaitForExit(20s));
    }
    EXPECT_TRUE(IsUnreapedChild(owner.Pid()));
    EXPECT_TRUE(owner.WaitForExit(20s));
    EXPECT_TRUE(IsReaped(owner.Pid()));

    // Terminated and let go at once, before the kill has taken effect.
    ProcessHandle dropped = StartProcess(SleepClient(dir.Path(), "ORVA 2"));
    const pid_t second = dropped.Pid();
    EXPECT_TRUE(dropped.Terminate());
    dropped = ProcessHandle();
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(second); }));

    // Let go (after a move) while running, and ended later by somebody else.
    pid_t third = 0;
    {
        ProcessHandle running = StartProcess(SleepClient(dir.Path(), "ORVA 3"));
        ProcessHandle moved(std::move(running));
        EXPECT_FALSE(running.IsValid());
        third = moved.Pid();
    }
    EXPECT_FALSE(IsReaped(third));
    EXPECT_TRUE(platform::FindProcessesByTitle("ORVA 3", dir.Path()).at(0).Terminate());
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(third); }));
}

// A client that starts a child of its own which leaves the directory and drops the title: the
// child is neither in the instance nor found by title, and still ends with its client. With
// ownSession the child also leaves the client's session.
platform::ProcessStartInfo ForkingClient(const std::string& dir, const char* clientEnd, bool ownSession = false) {
    std::string child = "exec env -u VANTREL_CONSOLE_TITLE sleep 600";
    if (ownSession)
        child = "exec setsid sh -c 'echo $$ > \"" + dir + "/gc.pid\"; " + child + "'";
    std::string script = "(cd / && " + child + ") & " + (ownSession ? "" : "echo $! > gc.pid; ") + clientEnd;
    return {{"/bin/sh", "-c", script}, dir, "ORVA 8", platform::SW_HIDE};
}

pid_t GrandchildOf(const TempDir& dir) {
    pid_t pid = 0;
    WaitUntil([&] {
        std::string text = ReadFile(dir / "gc.pid");
        pid = text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
        return pid > 0 && std::filesystem::exists(ProcPath(pid, "cwd")) &&
               platform::detail::ReadLinkPath(ProcPath(pid, "cwd")) == "/";
    });
    return pid;
}

bool IsGone(pid_t pid) {
    // Reparented to init (or a subreaper), a killed grandchild may stay a zombie a moment.
    std::string stat = ReadFile(ProcPath(pid, "stat"));
    return stat.empty() || stat.find(") Z ") != std::string::npos;
}

TEST(ProcessStart, WhatAClientStartedEndsWithItWhenKilledAndWhenItEnds) {
    // The client is killed while it runs, or ends by itself once its child is running.
    for (bool killed : {true, false}) {
        TempDir dir;
        ProcessHandle client = StartProcess(ForkingClient(dir.Path(), killed ? "sleep 600" : "exit 0"));
        ASSERT_TRUE(client.IsValid());
        KillAtEnd end{client};
        pid_t grandchild = GrandchildOf(dir);
        ASSERT_GT(grandchild, 0);
        for (const ProcessHandle& found : platform::FindProcessesByTitle("ORVA 8", dir.Path()))
            EXPECT_NE(found.Pid(), grandchild) << "the child that left is not found by title";
        const std::uint64_t walks = platform::CountProcessListWalks();
        if (killed) {
            EXPECT_TRUE(client.Terminate());
        }
        EXPECT_TRUE(client.WaitForExit(20s));
        EXPECT_TRUE(WaitUntil([&] { return IsGone(grandchild); })) << (killed ? "killed" : "ended");
        // One walk kills the child, one more finds nothing new: the ended client, still there
        // until it is reaped, and a child on its way out do not keep the search going.
        EXPECT_LE(platform::CountProcessListWalks() - walks, 2u) << (killed ? "killed" : "ended");
    }
}

TEST(ProcessStart, AClientsCgroupTakesAlongEvenAChildThatLeftItsSession) {
    enum class End { Killed, KilledByTitle, KilledMemberByMember, ByItself };
    std::filesystem::path root;
    for (End end : {End::Killed, End::KilledByTitle, End::KilledMemberByMember, End::ByItself}) {
        TempDir dir;
        ProcessHandle client = StartProcess(ForkingClient(dir.Path(), end == End::ByItself ? "exit 0" : "sleep 600", true));
        ASSERT_TRUE(client.IsValid());
        KillAtEnd atEnd{client};
        pid_t grandchild = GrandchildOf(dir);
        ASSERT_GT(grandchild, 0);
        const std::string group = platform::detail::ClientGroupOf(grandchild);
        if (group.empty()) {
            kill(grandchild, SIGKILL);
            GTEST_SKIP() << "no cgroup can be made here (no cgroup2 hierarchy this user may write): a child that "
                            "starts a session of its own outlives its client";
        }
        root = std::filesystem::path(group).parent_path();
        EXPECT_EQ(getsid(grandchild), grandchild) << "left the client's session";
        if (end != End::ByItself) {
            EXPECT_EQ(platform::detail::ClientGroupOf(client.Pid()), group);
        }
        // A group the kernel kills whole holds all the session does: no walk through /proc.
        const bool killedWhole = std::filesystem::exists(group + "/cgroup.kill");
        const std::uint64_t walks = platform::CountProcessListWalks();
        if (end == End::Killed) {
            EXPECT_TRUE(client.Terminate());
        } else if (end == End::KilledByTitle) {
            EXPECT_TRUE(platform::FindProcessesByTitle("ORVA 8", dir.Path()).at(0).Terminate());
        } else if (end == End::KilledMemberByMember) {
            // As on kernels without cgroup.kill.
            EXPECT_GE(platform::detail::KillGroupMembers(group), 2);
        }
        EXPECT_TRUE(client.WaitForExit(20s));
        if (killedWhole && (end == End::Killed || end == End::ByItself)) {
            EXPECT_EQ(platform::CountProcessListWalks() - walks, 0u) << static_cast<int>(end);
        }
        EXPECT_TRUE(WaitUntil([&] { return IsGone(grandchild); })) << static_cast<int>(end);
        EXPECT_FALSE(std::filesystem::exists(group)) << "the ended client's group is removed";
    }

    // Groups left empty by a copy that no longer runs go at start-up; a running copy's stay.
    pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    const std::filesystem::path leftover = root / (std::to_string(ended) + "-1");
    const std::filesystem::path ours = root / (std::to_string(getpid()) + "-999999");
    ASSERT_TRUE(std::filesystem::create_directory(leftover));
    ASSERT_TRUE(std::filesystem::create_directory(ours));
    // A copy started beside this test (ctest runs two at once) may remove it first, so what is
    // left counts, not what this call counted.
    platform::RemoveLeftoverClientGroups();
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(std::filesystem::exists(ours));
    std::filesystem::remove(ours);
}

// A client may run on after the program that started it (a transmit client does by design, any
// client after a kill -9): its group goes when it ends, not at some later start.
TEST(ProcessStart, AClientsGroupGoesWhenItEndsAlsoAfterItsProgramHasGone) {
    for (bool killed : {false, true}) {
        TempDir dir;
        TestChild starter({test::build::kGroupStarter, dir.Path()});
        const std::string group = starter.ReadLine();
        if (group.empty()) {
            starter.Kill();
            GTEST_SKIP() << "no cgroup can be made here (no cgroup2 hierarchy this user may write)";
        }
        ASSERT_TRUE(std::filesystem::exists(group));
        if (killed) {
            starter.Kill();
            // The next start's sweep finds the group still in use.
            platform::RemoveLeftoverClientGroups();
        } else {
            starter.CloseInput();
            const int status = starter.Wait();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        EXPECT_TRUE(std::filesystem::exists(group)) << "the group went while its client still ran";
        WriteFile(dir / "stop", "");
        EXPECT_TRUE(WaitUntil([&] { return !std::filesystem::exists(group); }))
            << (killed ? "after a kill" : "after a normal end") << ": the group stays until the next start";
    }
}

} // namespace
} // namespace vantrel::test
