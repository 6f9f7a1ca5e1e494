#include "platform/detail_win32.h" // <windows.h> without the macros that clash with ours

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "platform/file.h"
#include "platform/filelock.h"
#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/terminationwatch.h"
#include "support/tempdir.h"
#include "support/wait.h"

// Files through Win32 handles: sharing modes for the exclusive open, a temp file renamed over its
// target, private directories as access lists, console control events as termination requests.
namespace vantrel::test {
namespace {

using namespace vantrel::platform;
using namespace std::chrono_literals;

TEST(FileWin32, OpensSharedOrExclusiveAndRefusesWhatIsNotAFile) {
    TempDir dir;
    const std::string path = dir / "data.orv";
    File missing = OpenRegularFile(path, {});
    EXPECT_FALSE(missing.IsValid());
    File file = OpenRegularFile(path, {.write = true, .create = true});
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(file.WriteAll("hello world"));
    EXPECT_EQ(file.Size(), 11u);
    EXPECT_TRUE(file.ReplaceContents("bye"));
    EXPECT_EQ(file.Size(), 3u);
    ASSERT_TRUE(file.Rewind());
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer, 3), "bye");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_TRUE(file.IsSameFileAs(path));
    EXPECT_TRUE(file.Sync());

    // A shared open lets another reader in; an exclusive one waits for nobody and fails.
    EXPECT_TRUE(OpenRegularFile(path, {}).IsValid());
    EXPECT_FALSE(OpenRegularFile(path, {.exclusive = true}).IsValid());
    file.Close();
    File alone = OpenRegularFile(path, {.exclusive = true});
    ASSERT_TRUE(alone.IsValid());
    EXPECT_TRUE(IsFileLockedByOther(path));
    EXPECT_FALSE(OpenRegularFile(path, {}).IsValid());
    alone.Close();

    // Appending writes at the end whatever the position.
    File log = OpenRegularFile(path, {.write = true, .append = true});
    ASSERT_TRUE(log.IsValid());
    EXPECT_TRUE(log.WriteAll("!"));
    log.Close();
    EXPECT_EQ(ReadFileText(path, 100), "bye!");

    ASSERT_TRUE(MakeDirectory(dir / "folder"));
    EXPECT_FALSE(OpenRegularFile(dir / "folder", {}).IsValid());
    EXPECT_FALSE(OpenRegularFile("NUL", {}).IsValid());
}

TEST(TempFileWin32, IsMadeBesideItsTargetAndReplacesItInOneStep) {
    TempDir dir;
    const std::string target = dir / "cache.orv";
    ASSERT_TRUE(WriteFileAtomically(target, "old"));
    std::string left;
    {
        TempFile temp(target, "new");
        ASSERT_TRUE(temp.IsOpen());
        EXPECT_EQ(DirectoryPart(temp.Path()), DirectoryPart(target));
        EXPECT_TRUE(FileNamePart(temp.Path()).starts_with(".cache.orv.new-"));
        // A reader may have the target open meanwhile; the rename still goes through.
        File reader = OpenRegularFile(target, {});
        ASSERT_TRUE(reader.IsValid());
        ASSERT_TRUE(temp.Get().WriteAll("new"));
        EXPECT_FALSE(temp.MoveTo(target, false)); // without replace an existing target stays
        left = temp.Path();
    }
    EXPECT_FALSE(PathExists(left)); // a temp file not moved into place goes with its object
    EXPECT_EQ(ReadFileText(target, 100), "old");
    TempFile temp(target, "new");
    ASSERT_TRUE(temp.IsOpen());
    ASSERT_TRUE(temp.Get().WriteAll("new"));
    const std::string path = temp.Path();
    EXPECT_TRUE(temp.MoveTo(target, true));
    EXPECT_FALSE(PathExists(path));
    EXPECT_EQ(ReadFileText(target, 100), "new");
}

TEST(PrivateDirectoryWin32, GrantsTheOwnerAloneAndNarrowsAnOpenOne) {
    TempDir dir;
    EXPECT_TRUE(CurrentUserId().starts_with("S-1-"));
    // Anything but a directory under the name is refused, on every system.
    ASSERT_TRUE(WriteFileAtomically(dir / "file", "x"));
    EXPECT_FALSE(MakePrivateDirectory(dir / "file"));
    EXPECT_FALSE(IsPrivateDirectory(dir / "file"));
    EXPECT_FALSE(IsPrivateDirectory(dir / "missing"));
    // Wine makes up a file's access list from its Unix mode bits and keeps none that is set on it.
    if (RunsUnderWine())
        GTEST_SKIP() << "Wine keeps no access list of its own on a directory";
    // A directory made plainly inherits the temp folder's access list, open to others.
    const std::string shared = dir / "shared";
    ASSERT_TRUE(MakeDirectory(shared));
    EXPECT_FALSE(IsPrivateDirectory(shared));
    EXPECT_TRUE(MakePrivateDirectory(shared));
    EXPECT_TRUE(IsPrivateDirectory(shared));
    const std::string made = dir / "made";
    EXPECT_TRUE(MakePrivateDirectory(made));
    EXPECT_TRUE(IsPrivateDirectory(made));
}

TEST(OwnDirectoryWin32, FilesAreWrittenWholeFoundAndRemoved) {
    TempDir dir;
    // A missing directory is made; the file in it is replaced whole.
    const std::string own = dir / "own";
    EXPECT_TRUE(WriteFileInOwnDirectory(own, "socket.name", "abc", 0600));
    EXPECT_TRUE(IsDirectory(own));
    EXPECT_TRUE(IsFileInOwnDirectory(own, "socket.name"));
    EXPECT_EQ(ReadFileText(JoinPath(own, "socket.name"), 100), "abc");
    EXPECT_TRUE(WriteFileInOwnDirectory(own, "socket.name", "de", 0600));
    EXPECT_EQ(ReadFileText(JoinPath(own, "socket.name"), 100), "de");
    EXPECT_EQ(ListDirectory(own).size(), 1u); // no temp file left beside it
    EXPECT_TRUE(DeleteFileInOwnDirectory(own, "socket.name"));
    EXPECT_FALSE(IsFileInOwnDirectory(own, "socket.name"));
    EXPECT_TRUE(DeleteFileInOwnDirectory(own, "socket.name")); // gone already
    EXPECT_TRUE(DeleteFileInOwnDirectory(dir / "missing", "socket.name"));
    // A file where the directory should be is refused.
    ASSERT_TRUE(WriteFileAtomically(dir / "file", "x"));
    EXPECT_FALSE(WriteFileInOwnDirectory(dir / "file", "x", "y", 0600));
    EXPECT_FALSE(IsFileInOwnDirectory(dir / "file", "x"));
    EXPECT_FALSE(IsLocalSocket(dir / "file"));
    EXPECT_FALSE(IsLocalSocket(own));
}

TEST(TerminationWatchWin32, TurnsACtrlBreakIntoACall) {
    std::atomic<int> calls{0};
    {
        CTerminationWatch watch([&calls] { ++calls; });
        ASSERT_TRUE(watch.IsActive());
        if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0))
            GTEST_SKIP() << "no console here to send a control event to";
        EXPECT_TRUE(WaitUntil([&calls] { return calls.load() == 1; }, 30s));
    }
    EXPECT_EQ(calls.load(), 1);
    EXPECT_NE(CurrentProcessId(), 0);
}

} // namespace
} // namespace vantrel::test
