#include <sys/stat.h>
#include <unistd.h>

#include "cachestore_fixture.h"
#include "platform/fileops.h"

// The cache on Linux: symbolic links inside and around instances, and directory permissions.
namespace vantrel::test {
namespace {

TEST_F(CacheStoreTest, DeleteTreeRemovesLinksButNeverWhatTheyPointTo) {
    TempDir outside;
    WriteFile(outside / "precious.txt", "keep me");
    MakeInstance(1, {"result.orv"});
    MakeDirs(InstFile(1, "sub"));
    WriteFile(InstFile(1, "sub/file"), "x");
    ASSERT_EQ(symlink(outside.Path().c_str(), InstFile(1, "link").c_str()), 0);
    ASSERT_EQ(symlink((outside / "precious.txt").c_str(), InstFile(1, "filelink").c_str()), 0);

    store.DeleteInstance(1);
    EXPECT_FALSE(platform::PathExists(Inst(1)));
    EXPECT_EQ(ReadFile(outside / "precious.txt"), "keep me");

    // An instance that is itself a link to a directory is not followed into.
    ASSERT_EQ(symlink(outside.Path().c_str(), Inst(2).c_str()), 0);
    store.DeleteInstance(2);
    EXPECT_EQ(ReadFile(outside / "precious.txt"), "keep me");
}

TEST_F(CacheStoreTest, ReadOnlyProgramDirectoryGivesPlainAnswers) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root ignores directory permissions";
    MakeInstance(1, {"work_unit.orv"});
    MakeInstance(2);
    chmod(dir.Path().c_str(), 0500);
    store.CompactInstances();
    EXPECT_EQ(store.CountInstances(), 2u);
    chmod(dir.Path().c_str(), 0700);
}

} // namespace
} // namespace vantrel::test
