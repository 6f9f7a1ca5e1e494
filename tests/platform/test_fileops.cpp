#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fileops.h"
#include "support/tempdir.h"

namespace vantrel::test {
namespace {

using namespace vantrel::platform;

TEST(FileOps, PathPartsAndJoining) {
    EXPECT_EQ(JoinPath("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(JoinPath("/a/b/", "c"), "/a/b/c");
    EXPECT_EQ(FileNamePart("/a.b/vantrel"), "vantrel");
    EXPECT_EQ(FileNamePart("plain"), "plain");
    EXPECT_EQ(DirectoryPart("/a.b/vantrel"), "/a.b");
    EXPECT_EQ(DirectoryPart("/vantrel"), "/");
    EXPECT_EQ(DirectoryPart("plain"), "");
}

TEST(FileOps, ListingMatchesIgnoringCaseAndTellsDirectoriesFromLinks) {
    TempDir dir;
    WriteFile(dir / "ORVA_a.exe", "");
    WriteFile(dir / "orva_b.EXE", "");
    WriteFile(dir / "other.exe", "");
    MakeDirs(dir / "ORVA_dir.exe");
    ASSERT_EQ(symlink(dir.Path().c_str(), (dir / "ORVA_link.exe").c_str()), 0);
    auto entries = ListDirectory(dir.Path(), "ORVA*.exe");
    std::map<std::string, bool> found;
    for (const auto& e : entries)
        found[e.name] = e.isDirectory;
    EXPECT_EQ(found.size(), 4u);
    EXPECT_FALSE(found.at("ORVA_a.exe"));
    EXPECT_FALSE(found.at("orva_b.EXE"));
    EXPECT_TRUE(found.at("ORVA_dir.exe"));
    EXPECT_FALSE(found.at("ORVA_link.exe"));
    EXPECT_TRUE(ListDirectory(dir / "missing").empty());
}

TEST(FileOps, MoveNeverReplacesAndCopyHonoursFailIfExists) {
    TempDir dir;
    MakeDirs(dir / "from");
    MakeDirs(dir / "to"); // an empty directory: a plain rename would silently replace it
    EXPECT_FALSE(MoveFile(dir / "from", dir / "to"));
    EXPECT_TRUE(IsDirectory(dir / "from"));
    EXPECT_TRUE(MoveFile(dir / "from", dir / "moved"));

    WriteFile(dir / "a", "new");
    WriteFile(dir / "b", "old");
    EXPECT_FALSE(CopyFile(dir / "a", dir / "b", true));
    EXPECT_EQ(ReadFile(dir / "b"), "old");
    EXPECT_TRUE(CopyFile(dir / "a", dir / "b", false));
    EXPECT_EQ(ReadFile(dir / "b"), "new");
    EXPECT_TRUE(CopyFile(dir / "a", dir / "c", true));
    EXPECT_FALSE(CopyFile(dir / "missing", dir / "d", false));
    EXPECT_FALSE(PathExists(dir / "d"));
    EXPECT_TRUE(CopyFile(dir / "a", dir / "a", false)); // onto itself: unchanged
    EXPECT_EQ(ReadFile(dir / "a"), "new");
    // No temporary file is left behind.
    EXPECT_EQ(ListDirectory(dir.Path(), ".*").size(), 0u);
}

TEST(FileOps, AtomicWriteKeepsTheOldFileWhenItCannotWrite) {
    TempDir dir;
    WriteFile(dir / "cfg", "old");
    ASSERT_TRUE(WriteFileAtomically(dir / "cfg", "new", 0600));
    EXPECT_EQ(ReadFile(dir / "cfg"), "new");
    EXPECT_FALSE(WriteFileAtomically(dir / "missing-dir/cfg", "x"));

    // A target that is a directory cannot be replaced: the directory stays.
    MakeDirs(dir / "sub");
    WriteFile(dir / "sub/inside", "keep");
    EXPECT_FALSE(WriteFileAtomically(dir / "sub", "x"));
    EXPECT_EQ(ReadFile(dir / "sub/inside"), "keep");

    struct stat st {};
    ASSERT_TRUE(WriteFileAtomically(dir / "secret", "pw", 0600));
    ASSERT_EQ(stat((dir / "secret").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(FileOps, TimesSizesAndReading) {
    TempDir dir;
    WriteFile(dir / "f", "12345");
    SetMTime(dir / "f", 1'700'000'000);
    EXPECT_EQ(LastWriteTime(dir / "f"), 1'700'000'000);
    EXPECT_EQ(FileSize(dir / "f"), 5u);
    EXPECT_FALSE(LastWriteTime(dir / "none"));
    EXPECT_EQ(ReadFileText(dir / "f", 3), "123");
    EXPECT_FALSE(ReadFileText(dir / "none"));
    EXPECT_TRUE(IsSameFile(dir / "f", dir.Path() + "/./f"));
    EXPECT_FALSE(IsSameFile(dir / "f", dir / "none"));
}

} // namespace
} // namespace vantrel::test

namespace vantrel::test {
namespace {

TEST(FileOps, SpecialFilesAreNotReadAndLinkedFilesAreWrittenThroughTheLink) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(platform::ReadFileText(dir / "fifo")); // returns at once instead of waiting for a writer

    TempDir elsewhere;
    WriteFile(elsewhere / "real.cfg", "old");
    ASSERT_EQ(symlink((elsewhere / "real.cfg").c_str(), (dir / "vantrel.cfg").c_str()), 0);
    ASSERT_TRUE(platform::WriteFileAtomically(dir / "vantrel.cfg", "new"));
    struct stat st {};
    ASSERT_EQ(lstat((dir / "vantrel.cfg").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(elsewhere / "real.cfg"), "new");
}

} // namespace
} // namespace vantrel::test
