#include <atomic>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/event.h"
#include "platform/file.h"
#include "platform/filelock.h"
#include "platform/fileops.h"
#include "platform/terminationwatch.h"
#include "support/childprocess.h"
#include "support/tempdir.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using platform::IsFileLockedByOther;
using platform::OpenRegularFile;
using test::TempDir;
using test::WriteFile;

constexpr platform::FileOpenOptions kExclusive{.exclusive = true};

TEST(RegularFileOpen, RefusesWhatIsNotAFileAndWhatAnotherHolderLocked) {
    TempDir dir;
    test::MakeDirs(dir / "dir.orv");
    EXPECT_FALSE(OpenRegularFile(dir / "dir.orv", {}).IsValid());
    EXPECT_FALSE(OpenRegularFile(dir / "missing.orv", {}).IsValid());
    EXPECT_FALSE(platform::PathExists(dir / "missing.orv")); // never created
    ASSERT_EQ(::mkfifo((dir / "fifo.orv").c_str(), 0644), 0);
    EXPECT_FALSE(OpenRegularFile(dir / "fifo.orv", {}).IsValid()); // and does not block
    EXPECT_FALSE(OpenRegularFile(dir / "fifo.orv", {.write = true, .create = true}).IsValid());

    WriteFile(dir / "f.orv", "x=1\n");
    platform::File first = OpenRegularFile(dir / "f.orv", kExclusive);
    ASSERT_TRUE(first.IsValid());
    EXPECT_FALSE(OpenRegularFile(dir / "f.orv", kExclusive).IsValid());
    EXPECT_TRUE(OpenRegularFile(dir / "f.orv", {}).IsValid());
    // The exclusive open and the probe are one: what holds the one is seen by the other.
    EXPECT_TRUE(IsFileLockedByOther(dir / "f.orv"));
    first.Close();
    EXPECT_FALSE(IsFileLockedByOther(dir / "f.orv"));
    EXPECT_TRUE(OpenRegularFile(dir / "f.orv", kExclusive).IsValid());
}

// Each lock kind another process may hold is seen by both the probe and the exclusive open; with
// the holder gone, the file is free again for both.
TEST(LockProbe, SeesAFlockAnOfdAndAClassicPosixLockOfAnotherProcess) {
    TempDir dir;
    const std::string path = dir / "lock.orv";
    WriteFile(path, "x=1\n");
    EXPECT_FALSE(IsFileLockedByOther(path));
    EXPECT_TRUE(OpenRegularFile(path, kExclusive).IsValid());
    for (const char* kind : {"flock", "ofd", "posix"}) {
        test::TestChild holder(test::LockHolderArgs(kind, path));
        ASSERT_EQ(holder.ReadLine(), "locked") << kind;
        EXPECT_TRUE(IsFileLockedByOther(path)) << kind;
        EXPECT_FALSE(OpenRegularFile(path, kExclusive).IsValid()) << kind;
        EXPECT_FALSE(OpenRegularFile(path, {.write = true, .append = true, .exclusive = true}).IsValid()) << kind;
        EXPECT_TRUE(OpenRegularFile(path, {}).IsValid()) << kind; // a shared open still works
        // Asking twice changes nothing: the probe drops no lock it sees.
        EXPECT_TRUE(IsFileLockedByOther(path)) << kind;
        holder.Kill();
        EXPECT_FALSE(IsFileLockedByOther(path)) << kind;
        EXPECT_TRUE(OpenRegularFile(path, kExclusive).IsValid()) << kind;
    }
    // What cannot be probed counts as locked; what is not there, as free.
    EXPECT_TRUE(IsFileLockedByOther(dir.Path()));
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    EXPECT_TRUE(IsFileLockedByOther(dir / "dangling"));
    EXPECT_FALSE(IsFileLockedByOther(dir / "missing"));
}

TEST(FileLock, HoldsTheFileAndKeepsWhatIsWrittenIntoIt) {
    TempDir dir;
    const std::string path = dir / "vantrel.lock";
    WriteFile(path, "a much longer old text\n");
    platform::FileLock lock;
    ASSERT_TRUE(lock.Acquire(path));
    EXPECT_TRUE(lock.IsHeld());
    EXPECT_TRUE(IsFileLockedByOther(path));
    platform::FileLock second;
    EXPECT_FALSE(second.Acquire(path));
    EXPECT_TRUE(lock.ReplaceContents("4242\n"));
    EXPECT_EQ(test::ReadFile(path), "4242\n");
    EXPECT_TRUE(IsFileLockedByOther(path));
    lock.Release();
    EXPECT_FALSE(IsFileLockedByOther(path));
    EXPECT_FALSE(second.Acquire(dir / "missing", false));
    EXPECT_FALSE(platform::PathExists(dir / "missing"));
}

TEST(File, ReadsWritesAndKnowsWhetherItWasReplaced) {
    TempDir dir;
    const std::string path = dir / "log.csv";
    platform::File file = OpenRegularFile(path, {.write = true, .create = true, .append = true});
    ASSERT_TRUE(file.IsValid());
    ASSERT_TRUE(file.WriteAll("header\r\nrow"));
    EXPECT_EQ(file.Size(), 11u);
    char buffer[16];
    ASSERT_TRUE(file.Rewind());
    EXPECT_EQ(file.Read(buffer, 6), 6u);
    EXPECT_EQ(std::string(buffer, 6), "header");
    ASSERT_TRUE(file.Truncate(6));
    EXPECT_EQ(test::ReadFile(path), "header");
    EXPECT_TRUE(file.IsSameFileAs(path));

    // Replaced by another file under the same name: no longer the same.
    WriteFile(dir / "new.csv", "new");
    ASSERT_TRUE(platform::MoveFile(path, dir / "old.csv"));
    ASSERT_TRUE(platform::MoveFile(dir / "new.csv", path));
    EXPECT_FALSE(file.IsSameFileAs(path));
    EXPECT_FALSE(file.IsSameFileAs(dir / "missing"));

    ASSERT_EQ(::chmod((dir / "old.csv").c_str(), 0640), 0);
    platform::File old = OpenRegularFile(dir / "old.csv", {});
    platform::File other = OpenRegularFile(path, {.write = true});
    ASSERT_TRUE(other.CopyPermissionsFrom(old));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(TempFile, IsMadeBesideItsTargetAndReplacesItInOneStep) {
    TempDir dir;
    const std::string log = dir / "ORVALog.csv";
    WriteFile(log, "old log");
    platform::File reader = OpenRegularFile(log, {});
    std::string tempPath;
    {
        platform::TempFile dropped(log, "upgrade");
        ASSERT_TRUE(dropped.IsOpen());
        tempPath = dropped.Path();
        EXPECT_EQ(platform::DirectoryPart(tempPath), dir.Path());
        EXPECT_EQ(platform::FileNamePart(tempPath).rfind(".ORVALog.csv.upgrade-", 0), 0u) << tempPath;
        EXPECT_TRUE(platform::IsRegularFile(tempPath));
    }
    // Not moved into place: nothing is left behind.
    EXPECT_FALSE(platform::PathExists(tempPath));

    platform::TempFile temp(log, "upgrade");
    ASSERT_TRUE(temp.Get().WriteAll("new log"));
    ASSERT_TRUE(temp.Get().Sync());
    // Without replace, an existing target stays as it is.
    EXPECT_FALSE(temp.MoveTo(log, false));
    EXPECT_EQ(test::ReadFile(log), "old log");
    ASSERT_TRUE(temp.MoveTo(log, true));
    EXPECT_EQ(test::ReadFile(log), "new log");
    EXPECT_FALSE(platform::PathExists(temp.Path()));
    EXPECT_EQ(platform::ListDirectory(dir.Path()).size(), 1u);
    // A reader that had the old log open still reads it whole.
    char buffer[16];
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 7u);
    EXPECT_EQ(std::string(buffer, 7), "old log");
}

TEST(PrivateDirectory, IsOnlyADirectoryOfOursThatNobodyElseMayEnter) {
    TempDir dir;
    const std::string channel = dir / "channel";
    EXPECT_FALSE(platform::IsPrivateDirectory(channel));
    ASSERT_TRUE(platform::MakePrivateDirectory(channel));
    EXPECT_TRUE(platform::IsPrivateDirectory(channel));
    // One that others may enter is narrowed.
    ASSERT_EQ(::chmod(channel.c_str(), 0755), 0);
    EXPECT_FALSE(platform::IsPrivateDirectory(channel));
    ASSERT_TRUE(platform::MakePrivateDirectory(channel));
    EXPECT_TRUE(platform::IsPrivateDirectory(channel));
    // A link to it is neither taken nor followed.
    ASSERT_EQ(::symlink(channel.c_str(), (dir / "link").c_str()), 0);
    EXPECT_FALSE(platform::IsPrivateDirectory(dir / "link"));
    EXPECT_FALSE(platform::MakePrivateDirectory(dir / "link"));
    WriteFile(dir / "file", "");
    EXPECT_FALSE(platform::MakePrivateDirectory(dir / "file"));
    EXPECT_FALSE(platform::IsLocalSocket(dir / "file"));
    EXPECT_FALSE(platform::IsLocalSocket(channel));
}

TEST(TerminationWatch, TurnsARequestToEndIntoACallAndPutsTheOldHandlingBack) {
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
    platform::CEvent called;
    std::atomic<int> calls{0};
    {
        platform::CTerminationWatch watch([&] {
            ++calls;
            called.Set();
        });
        ASSERT_TRUE(watch.IsActive());
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
            called.Reset();
            ASSERT_EQ(::raise(signal), 0);
            EXPECT_TRUE(called.Wait(20s)) << signal; // and the test program is still running
        }
    }
    EXPECT_GE(calls.load(), 3);
    struct sigaction after {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

} // namespace
} // namespace vantrel
