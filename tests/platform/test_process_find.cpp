#include "platform/process.h"
#include "platform/wait_linux.h"
#include "support/tempdir.h"
#include "test_process_util.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>

namespace vantrel::test {
namespace {

using platform::ProcessHandle;
using platform::StartProcess;

std::vector<platform::ProcessId> Found(const std::string& title, const std::string& dir) {
    std::vector<platform::ProcessId> pids;
    for (const auto& handle : platform::FindProcessesByTitle(title, dir))
        pids.push_back(handle.IsAlive() ? handle.Pid() : -1);
    std::sort(pids.begin(), pids.end());
    return pids;
}

TEST(ProcessFind, ExactTitleInThatDirectoryOnly) {
    TempDir root;
    MakeDirs(root / "a/1");
    MakeDirs(root / "b/1");
    ProcessHandle wanted = StartProcess(SleepClient(root / "a/1", "ORVA 1"));
    // The same title under another program directory, a transmit client, another instance.
    ProcessHandle otherProgram = StartProcess(SleepClient(root / "b/1", "ORVA 1"));
    ProcessHandle transmit = StartProcess(SleepClient(root / "a/1", "ORVA 1 - Transmit"));
    ProcessHandle otherInstance = StartProcess(SleepClient(root / "a/1", "ORVA 11"));
    KillAtEnd end1{wanted}, end2{otherProgram}, end3{transmit}, end4{otherInstance};

    const std::vector<platform::ProcessId> only{wanted.Pid()};
    EXPECT_EQ(Found("ORVA 1", root / "a/1"), only);
    std::filesystem::create_directory_symlink(root / "a", root / "link");
    EXPECT_EQ(Found("ORVA 1", root / "link/1"), only);
    // A link that is the instance directory itself, not only one above it.
    std::filesystem::create_directory_symlink(root / "a/1", root / "one");
    EXPECT_EQ(Found("ORVA 1", root / "one"), only);
    EXPECT_EQ(Found("ORVA 1", root / "a/1/"), only);
    EXPECT_EQ(Found("ORVA 1", root / "b/../a/1"), only);
    EXPECT_EQ(Found("ORVA 1", root / "b/1"), std::vector<platform::ProcessId>{otherProgram.Pid()});
    EXPECT_EQ(Found("ORVA 1 - Transmit", root / "a/1"), std::vector<platform::ProcessId>{transmit.Pid()});
    EXPECT_TRUE(Found("ORVA", root / "a/1").empty());
    EXPECT_TRUE(Found("ORVA 1", root / "a").empty());
    EXPECT_TRUE(Found("ORVA 1", root / "missing").empty());
    EXPECT_TRUE(Found("ORVA 1", "").empty());
}

TEST(ProcessFind, ManyPairsInOneSearchAsEachAlone) {
    TempDir root;
    MakeDirs(root / "a/1");
    MakeDirs(root / "a/2");
    MakeDirs(root / "b/1");
    ProcessHandle first = StartProcess(SleepClient(root / "a/1", "ORVA 1"));
    ProcessHandle second = StartProcess(SleepClient(root / "a/2", "ORVA 2"));
    KillAtEnd end1{first}, end2{second};
    // Siblings under one parent, a link in place of an instance and one in place of its parent,
    // a name that leaves the parent, and one that is not there.
    std::filesystem::create_directory_symlink(root / "a/2", root / "b/2");
    std::filesystem::create_directory_symlink(root / "a", root / "link");
    const std::vector<std::pair<std::string, std::string>> wanted{
        {"ORVA 1", root / "a/1"},     {"ORVA 2", root / "a/2"},  {"ORVA 1", root / "b/1"},
        {"ORVA 2", root / "b/2"},     {"ORVA 1", root / "link/1"}, {"ORVA 2", root / "b/1/../../a/2"},
        {"ORVA 3", root / "a/3"},     {"ORVA 1", root / "a/2"}};
    std::vector<std::vector<ProcessHandle>> found = platform::FindProcessesByTitles(wanted);
    ASSERT_EQ(found.size(), wanted.size());
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        std::vector<platform::ProcessId> pids;
        for (const ProcessHandle& handle : found[i])
            pids.push_back(handle.Pid());
        EXPECT_EQ(pids, Found(wanted[i].first, wanted[i].second)) << wanted[i].second;
    }
    EXPECT_EQ(found[0].size(), 1U);
    EXPECT_EQ(found[3].size(), 1U);
    EXPECT_EQ(found[4].size(), 1U);
    EXPECT_EQ(found[5].size(), 1U);
    EXPECT_TRUE(found[2].empty());
    EXPECT_TRUE(found[7].empty());
}

TEST(ProcessFind, StartedClientIsFoundAtOnce) {
    TempDir dir;
    // A search right after the start must not fall before the new program's environment shows.
    for (int i = 0; i < 20; ++i) {
        ProcessHandle client = StartProcess(SleepClient(dir.Path(), "ORVA 9"));
        KillAtEnd end{client};
        EXPECT_EQ(Found("ORVA 9", dir.Path()), std::vector<platform::ProcessId>{client.Pid()}) << "attempt " << i;
    }
}

TEST(ProcessFind, RemovedDirectoryStillFoundEndedClientNot) {
    TempDir root;
    MakeDirs(root / "1");
    ProcessHandle client = StartProcess(SleepClient(root / "1", "ORVA 1"));
    ASSERT_TRUE(client.IsValid());
    KillAtEnd end{client};
    std::filesystem::remove(root / "1");
    EXPECT_EQ(Found("ORVA 1", root / "1"), std::vector<platform::ProcessId>{client.Pid()});

    // A zombie that nobody reaped yet is not found either.
    kill(client.Pid(), SIGKILL);
    pollfd ended{platform::FdOf(client.ExitHandle()), POLLIN, 0};
    ASSERT_EQ(poll(&ended, 1, 20000), 1);
    ASSERT_TRUE(IsUnreapedChild(client.Pid()));
    EXPECT_TRUE(Found("ORVA 1", root / "1").empty());
}

} // namespace
} // namespace vantrel::test
