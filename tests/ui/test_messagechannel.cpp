// The registered message between running copies: per-user sockets, stale ones cleared, only
// numbers accepted, and the command line that sends them.
#include "platform/fileops.h"
#include "support/tempdir.h"
#include "host/messagechannel.h"
#include "support/wait.h"
#include "ui/commandline.h"
#include "ui/vantrelapp.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace vantrel {
namespace {

using test::ScopedEnv;
using test::TempDir;
using test::WaitUntil;
using namespace std::chrono_literals;

// A socket file nobody listens on: what a copy that was killed leaves behind.
void MakeStaleSocket(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

// A copy that is stopped (SIGSTOP) or hung: its socket takes connections and never answers.
int MakeSilentCopy(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, std::min(path.size(), sizeof address.sun_path - 1));
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 16), 0);
    return fd;
}

// A connection that sends nothing; -1 when it could not be made.
int ConnectIdle(const QString& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = path.toStdString();
    name.copy(address.sun_path, std::min(name.size(), sizeof address.sun_path - 1));
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

void SendRaw(const QString& socketPath, const QByteArray& bytes) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(bytes);
    ASSERT_TRUE(socket.waitForBytesWritten(2000));
    socket.disconnectFromServer();
}

int RunRequest(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::optional<int> code = RunCommandLineRequest(static_cast<int>(words.size()), argv.data());
    return code.value_or(-1);
}

TEST(MessageChannel, EveryCopyReceivesThePostAndStaleSocketsAreCleared) {
    TempDir runtime;
    const std::string dir = runtime / "vantrel";
    CMessageChannel first(dir);
    CMessageChannel second(dir);
    ASSERT_TRUE(first.Listen());
    ASSERT_TRUE(second.Listen());
    EXPECT_NE(first.SocketPath(), second.SocketPath());
    EXPECT_EQ(ModeOf(dir), 0700u);

    MakeStaleSocket(dir + "/4000000");
    MakeStaleSocket(dir + "/4000001-2");
    test::WriteFile(dir + "/17", "a file that merely has a copy's name");
    MakeStaleSocket(dir + "/not-a-copy");

    QSignalSpy firstSpy(&first, &CMessageChannel::MessageReceived);
    QSignalSpy secondSpy(&second, &CMessageChannel::MessageReceived);
    EXPECT_EQ(PostToAllCopies(dir, 16), 2u);
    ASSERT_TRUE(WaitUntil([&] { return firstSpy.size() == 1 && secondSpy.size() == 1; }));
    EXPECT_EQ(firstSpy.front().front().toUInt(), 16u);
    EXPECT_EQ(secondSpy.front().front().toUInt(), 16u);

    EXPECT_FALSE(platform::PathExists(dir + "/4000000"));
    EXPECT_FALSE(platform::PathExists(dir + "/4000001-2"));
    // Only sockets with a copy's name are ours to clear.
    EXPECT_TRUE(platform::PathExists(dir + "/17"));
    EXPECT_TRUE(platform::PathExists(dir + "/not-a-copy"));
    EXPECT_TRUE(platform::PathExists(first.SocketPath().toStdString()));
}

TEST(MessageChannel, OnlyAPrivateDirectoryOfTheUserIsUsed) {
    TempDir runtime;
    const std::string wide = runtime / "wide";
    ASSERT_EQ(::mkdir(wide.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(wide.c_str(), 0755), 0);
    EXPECT_TRUE(PrepareChannelDirectory(wide));
    EXPECT_EQ(ModeOf(wide), 0700u);

    // A link could lead the sockets (and their removal) anywhere.
    const std::string link = runtime / "link";
    ASSERT_EQ(::symlink(wide.c_str(), link.c_str()), 0);
    EXPECT_FALSE(PrepareChannelDirectory(link));
    CMessageChannel channel(link);
    EXPECT_FALSE(channel.Listen());
    EXPECT_FALSE(channel.IsListening());
    MakeStaleSocket(wide + "/4000002");
    EXPECT_EQ(PostToAllCopies(link, 16), 0u);
    EXPECT_TRUE(platform::PathExists(wide + "/4000002"));

    // A directory others may enter is not posted into either.
    ASSERT_EQ(::chmod(wide.c_str(), 0755), 0);
    EXPECT_EQ(PostToAllCopies(wide, 16), 0u);
    EXPECT_TRUE(platform::PathExists(wide + "/4000002"));
}

TEST(MessageChannel, OnlyWholeNumbersAreDelivered) {
    TempDir runtime;
    CMessageChannel channel(runtime / "vantrel");
    ASSERT_TRUE(channel.Listen());
    QSignalSpy spy(&channel, &CMessageChannel::MessageReceived);

    SendRaw(channel.SocketPath(), "exit\n");
    SendRaw(channel.SocketPath(), "4294967296\n"); // beyond 32 bits
    SendRaw(channel.SocketPath(), "-16\n");
    SendRaw(channel.SocketPath(), QByteArray(200, '1')); // no line end, far too long
    SendRaw(channel.SocketPath(), "7\n");
    ASSERT_TRUE(WaitUntil([&] { return spy.size() >= 1; }));
    // Give the refused ones every chance to show up before the count is read.
    PostToAllCopies(runtime / "vantrel", 9);
    ASSERT_TRUE(WaitUntil([&] { return spy.size() >= 2; }));
    ASSERT_EQ(spy.size(), 2);
    EXPECT_EQ(spy.at(0).front().toUInt(), 7u);
    EXPECT_EQ(spy.at(1).front().toUInt(), 9u);
}

TEST(MessageChannel, AClosedChannelTakesItsSocketAlong) {
    TempDir runtime;
    const std::string dir = runtime / "vantrel";
    std::string socketPath;
    {
        CMessageChannel channel(dir);
        ASSERT_TRUE(channel.Listen());
        socketPath = channel.SocketPath().toStdString();
        EXPECT_TRUE(platform::PathExists(socketPath));
    }
    EXPECT_FALSE(platform::PathExists(socketPath));
    EXPECT_EQ(PostToAllCopies(dir, 16), 0u);
}

// Runs a command-line request on a thread of its own, as another process would, while this
// thread's channels answer it.
int RunAnswered(std::vector<std::string> words) {
    std::future<int> result = std::async(std::launch::async, [words] { return RunRequest(words); });
    EXPECT_TRUE(WaitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 30s));
    return result.get();
}

TEST(MessageChannel, CommandLineRequests) {
    TempDir runtime;
    TempDir programDir;
    TempDir elsewhere;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.Path());
    ASSERT_EQ(GetChannelDirectory(), runtime / "vantrel");
    CMessageChannel channel(GetChannelDirectory());
    channel.SetProgramDirectory(programDir.Path());
    bool refuse = false;
    channel.SetRequestJudge([&](const ChannelRequest&) { return refuse ? EChannelReply::Refused : EChannelReply::Done; });
    ASSERT_TRUE(channel.Listen());
    QSignalSpy spy(&channel, &CMessageChannel::MessageReceived);

    testing::internal::CaptureStdout();
    EXPECT_EQ(RunAnswered({"vantrel", "--post", "16"}), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("reached 1 running copy"), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return spy.size() == 1; }));
    EXPECT_EQ(spy.front().front().toUInt(), 16u);

    // Limited to one program directory: only the copy working there.
    EXPECT_EQ(RunAnswered({"vantrel", "--post", "16", "--program-dir", elsewhere.Path()}), 1);
    EXPECT_EQ(RunAnswered({"vantrel", "--post", "16", "--program-dir=" + programDir.Path() + "/."}), 0);
    ASSERT_TRUE(WaitUntil([&] { return spy.size() == 2; }));
    EXPECT_EQ(spy.size(), 2) << "the copy of another directory acted on the post";

    // A copy that refuses (a field left invalid) is reported and the answer is not success; it
    // still gets the message, so it shows the user why.
    refuse = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunAnswered({"vantrel", "--post", "16"}), 1);
    std::string refusal = testing::internal::GetCapturedStderr();
    EXPECT_NE(refusal.find("refused"), std::string::npos);
    EXPECT_NE(refusal.find(programDir.Path()), std::string::npos) << refusal;
    ASSERT_TRUE(WaitUntil([&] { return spy.size() == 3; }));

    EXPECT_EQ(RunRequest({"vantrel", "--post"}), 2);
    EXPECT_EQ(RunRequest({"vantrel", "--post", "-1"}), 2);
    EXPECT_EQ(RunRequest({"vantrel", "--post", "16x"}), 2);
    EXPECT_EQ(RunRequest({"vantrel", "--post", "16", "--program-dir"}), 2);
    EXPECT_EQ(RunRequest({"vantrel", "--post", "16", "--program-dir", runtime / "missing"}), 2);
    // Option keywords are the program's own business; a mistyped long option is not.
    EXPECT_EQ(RunRequest({"vantrel", "-auto", "-cpu", "2"}), -1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunRequest({"vantrel", "-auto", "--cpu", "2"}), 2);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("--cpu"), std::string::npos);

    for (const char* help : {"--help", "-h"}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(RunRequest({"vantrel", "-auto", help}), 0);
        std::string usage = testing::internal::GetCapturedStdout();
        for (const char* word : {"--post N", "--program-dir", "--version", "-socks_server", "-ORVALog", "-cpu N",
                                 "VANTREL_TIME_SCALE"})
            EXPECT_NE(usage.find(word), std::string::npos) << word;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunRequest({"vantrel", "--version"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Vantrel ", 0), 0u);
    EXPECT_EQ(spy.size(), 3) << "a request that only prints reached a copy";

    // With nobody listening, --post says so and fails.
    TempDir quiet;
    ::setenv("XDG_RUNTIME_DIR", quiet.Path().c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunRequest({"vantrel", "--post", "16"}), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no running Vantrel"), std::string::npos);

    // Without a runtime directory the per-user directory under /tmp is used.
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(GetChannelDirectory(), "/tmp/vantrel-" + std::to_string(::getuid()));
}

TEST(MessageChannel, AHelloReachesEveryOtherCopyWithTheSendersDirectory) {
    TempDir runtime;
    TempDir first;
    TempDir second;
    CMessageChannel running(runtime / "vantrel");
    running.SetProgramDirectory(first.Path());
    ASSERT_TRUE(running.Listen());
    CMessageChannel starting(runtime / "vantrel");
    starting.SetProgramDirectory(second.Path());
    ASSERT_TRUE(starting.Listen());
    QSignalSpy started(&running, &CMessageChannel::CopyStarted);
    QSignalSpy selfStarted(&starting, &CMessageChannel::CopyStarted);

    std::future<std::vector<CopyAnswer>> answers = std::async(std::launch::async, [&] {
        return SendToAllCopies(runtime / "vantrel", {kHelloCommand, second.Path()}, starting.SocketPath());
    });
    ASSERT_TRUE(WaitUntil([&] { return answers.wait_for(0s) == std::future_status::ready; }));
    std::vector<CopyAnswer> got = answers.get();
    ASSERT_EQ(got.size(), 1u) << "the sender's own socket was asked too";
    EXPECT_EQ(got[0].reply, EChannelReply::Done);
    EXPECT_EQ(got[0].programDir, first.Path());
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started.at(0).at(0).toString().toStdString(), second.Path());
    EXPECT_EQ(selfStarted.size(), 0);
}

// Copies that never answer (stopped, hung) are asked together with the others, so they cost one
// short deadline in all, not a wait each; the copy that answers is heard.
TEST(MessageChannel, CopiesThatNeverAnswerDelayTheOthersOnlyOnce) {
    TempDir runtime;
    TempDir programDir;
    const std::string dir = runtime / "vantrel";
    CMessageChannel channel(dir);
    channel.SetProgramDirectory(programDir.Path());
    ASSERT_TRUE(channel.Listen());
    std::vector<int> silent;
    for (int i = 0; i < 8; ++i)
        silent.push_back(MakeSilentCopy(dir + "/" + std::to_string(4000100 + i)));

    std::future<std::vector<CopyAnswer>> answers = std::async(std::launch::async, [&] {
        return SendToAllCopies(dir, {kShowCommand, programDir.Path()});
    });
    // Asked one after the other, each silent copy would hold the request for seconds.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return answers.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30000))
        << "the silent copies were waited for one by one";
    const std::vector<CopyAnswer> got = answers.get();
    ASSERT_EQ(got.size(), 9u);
    EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const CopyAnswer& a) { return a.reply == EChannelReply::Done; }),
              1);
    EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const CopyAnswer& a) { return a.reply == EChannelReply::None; }),
              8);
    for (int fd : silent)
        ::close(fd);
}

// Many idle connections, or a process out of descriptors, must not end the channel: a failed
// accept is tried again later, idle connections are closed, and the socket stays.
TEST(MessageChannel, TheChannelOutlivesRunningOutOfDescriptorsAndIdleConnections) {
    TempDir runtime;
    const std::string dir = runtime / "vantrel";
    CMessageChannel channel(dir);
    channel.SetIdleTimeout(std::chrono::milliseconds(300));
    ASSERT_TRUE(channel.Listen());
    const QString socketPath = channel.SocketPath();
    QSignalSpy spy(&channel, &CMessageChannel::MessageReceived);

    // Idle connections, more than are served at once: each is closed by the channel.
    std::vector<int> idle;
    for (int i = 0; i < 40; ++i)
        idle.push_back(ConnectIdle(socketPath));
    for (int fd : idle)
        ASSERT_GE(fd, 0);
    auto closedByPeer = [](int fd) {
        pollfd polled{fd, POLLIN, 0};
        char byte = 0;
        return ::poll(&polled, 1, 0) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
    };
    std::vector<bool> closed(idle.size(), false);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (std::size_t i = 0; i < idle.size(); ++i)
                closed[i] = closed[i] || closedByPeer(idle[i]);
            return std::all_of(closed.begin(), closed.end(), [](bool c) { return c; });
        },
        30000))
        << "idle connections are kept open for good";
    for (int fd : idle)
        ::close(fd);

    // Out of descriptors while a connection waits: the channel must still be there afterwards.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 1024);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd = ::dup(STDERR_FILENO); fd >= 0; fd = ::dup(STDERR_FILENO))
        fillers.push_back(fd);
    ASSERT_FALSE(fillers.empty());
    ::close(fillers.back());
    fillers.pop_back();
    const int waiting = ConnectIdle(socketPath);
    EXPECT_GE(waiting, 0);
    // Give the channel every chance to try the accept while nothing is left.
    const bool gone = QTest::qWaitFor([&] { return !platform::PathExists(socketPath.toStdString()); }, 1000);
    EXPECT_FALSE(gone) << "the channel closed when an accept failed";
    EXPECT_TRUE(channel.IsListening());
    for (int fd : fillers)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &old);
    ::close(waiting);

    ASSERT_TRUE(platform::PathExists(socketPath.toStdString())) << "the socket file was removed";
    std::future<unsigned> posted = std::async(std::launch::async, [&] { return PostToAllCopies(dir, 16); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.size() == 1; }, 20000)) << "the channel no longer listens";
    EXPECT_EQ(posted.get(), 1u);
    EXPECT_EQ(spy.front().front().toUInt(), 16u);
}

TEST(MessageChannel, NoDisplayIsOneLineAndExitCode1) {
    ScopedEnv noX("DISPLAY", "");
    ScopedEnv noWayland("WAYLAND_DISPLAY", "");
    ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
    char name[] = "vantrel";
    char* argv[] = {name, nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(CheckDisplay(1, argv), 1);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("display"), std::string::npos);
    // A platform without a display (the tests' own) needs none.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_EQ(CheckDisplay(1, argv), std::nullopt);
}

} // namespace
} // namespace vantrel
