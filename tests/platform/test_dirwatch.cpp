#include "platform/dirwatch.h"
#include "support/tempdir.h"
#include "test_dirwatch_util.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using platform::CEvent;
using platform::DirWatch;

TEST(DirWatch, WritesInTheDirectoryWakeItOnceAndOthersDoNot) {
    TempDir root;
    MakeDirs(root / "watched/sub");
    MakeDirs(root / "other");
    WriteFile(root / "other/moved", "m");
    DirWatch watch;
    CEvent stop;
    EXPECT_EQ(watch.Wait(stop), Result::Failed);
    EXPECT_FALSE(watch.Open(root / "missing"));
    EXPECT_FALSE(watch.Open(root / "other/moved"));
    ASSERT_TRUE(watch.Open(root / "watched"));

    WriteFile(root / "watched/sub/state.orv", "prog=0.1");
    WriteFile(root / "other/state.orv", "prog=0.1");
    EXPECT_EQ(WaitStoppingAfter(watch, 200ms), Result::Stopped);

    WriteFile(root / "watched/state.orv", "prog=0.2");
    EXPECT_EQ(watch.Wait(stop), Result::Changed);
    for (int i = 0; i < 50; ++i)
        WriteFile(root / "watched/state.orv", "prog=0." + std::to_string(i));
    EXPECT_EQ(watch.Wait(stop), Result::Changed);
    EXPECT_EQ(WaitStoppingAfter(watch, 100ms), Result::Stopped); // the burst was drained
    std::filesystem::rename(root / "other/moved", root / "watched/moved");
    EXPECT_EQ(watch.Wait(stop), Result::Changed);
}

TEST(DirWatch, StopEndsTheWaitAndWinsOverChanges) {
    TempDir dir;
    DirWatch watch;
    ASSERT_TRUE(watch.Open(dir.Path()));
    CEvent stop;
    Result result = Result::Failed;
    std::thread waiter([&] { result = watch.Wait(stop); });
    stop.Set();
    waiter.join();
    EXPECT_EQ(result, Result::Stopped);
    WriteFile(dir / "state.orv", "x");
    EXPECT_EQ(watch.Wait(stop), Result::Stopped);
    stop.Reset();
    EXPECT_EQ(watch.Wait(stop), Result::Changed);
}

} // namespace
} // namespace vantrel::test
