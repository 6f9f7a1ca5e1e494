#include "platform/dirwatch.h"
#include "support/tempdir.h"
#include "test_dirwatch_util.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

// What only Linux shows at once: the inotify queue's own limit, and a watched directory removed
// while the watch holds it (on Windows it stays, pending deletion, until the watch lets it go).
namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using platform::CEvent;
using platform::DirWatch;

TEST(DirWatch, RemovedOrMovedDirectoryIsGoneForGood) {
    TempDir root;
    for (const std::string how : {"removed", "moved"}) {
        MakeDirs(root / how);
        DirWatch watch;
        ASSERT_TRUE(watch.Open(root / how));
        if (how == "removed")
            std::filesystem::remove(root / how);
        else
            std::filesystem::rename(root / how, root / "elsewhere");
        CEvent stop;
        EXPECT_EQ(watch.Wait(stop), Result::Gone) << how;
        EXPECT_EQ(watch.Wait(stop), Result::Gone) << how; // at once: a dead watch never wakes
        stop.Set();
        EXPECT_EQ(watch.Wait(stop), Result::Stopped) << how;
    }
}

TEST(DirWatch, OverflowingQueueIsAChangeAndIsDrained) {
    TempDir dir;
    DirWatch watch;
    ASSERT_TRUE(watch.Open(dir.Path()));
    const int queueLimit = std::stoi(ReadFile("/proc/sys/fs/inotify/max_queued_events"));
    // Writes to two files in turn queue one event each: the kernel merges only repeats.
    int files[2] = {open((dir / "a").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644),
                    open((dir / "b").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)};
    for (int i = 0; i < queueLimit + 100; ++i)
        ASSERT_EQ(write(files[i % 2], "x", 1), 1);
    close(files[0]);
    close(files[1]);
    CEvent stop;
    EXPECT_EQ(watch.Wait(stop), Result::Changed);
    EXPECT_EQ(WaitStoppingAfter(watch, 100ms), Result::Stopped);
}

} // namespace
} // namespace vantrel::test
