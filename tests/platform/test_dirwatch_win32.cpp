#include <gtest/gtest.h>

#include <filesystem>

#include "platform/dirwatch.h"
#include "support/tempdir.h"
#include "test_dirwatch_util.h"

// A watched directory moved away on Windows: the watch follows its handle, so the wait itself
// must see that the name no longer leads to it.
namespace vantrel::test {
namespace {

TEST(DirWatchWin32, MovedDirectoryIsGoneForGood) {
    TempDir root;
    MakeDirs(root / "moved");
    platform::DirWatch watch;
    ASSERT_TRUE(watch.Open(root / "moved"));
    std::filesystem::rename(root / "moved", root / "elsewhere");
    platform::CEvent stop;
    EXPECT_EQ(watch.Wait(stop), Result::Gone);
    EXPECT_EQ(watch.Wait(stop), Result::Gone); // at once: a dead watch never wakes
    // Another directory made under the old name is not the watched one.
    MakeDirs(root / "moved");
    EXPECT_EQ(watch.Wait(stop), Result::Gone);
    stop.Set();
    EXPECT_EQ(watch.Wait(stop), Result::Stopped);
}

} // namespace
} // namespace vantrel::test
