#include "platform/dirwatch.h"
#include "support/tempdir.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using platform::CEvent;
using platform::DirWatch;
using Result = DirWatch::WaitResult;

// Waits with a stop event that another thread sets after a pause: Stopped means nothing woke the
// watch before.
Result WaitStoppingAfter(DirWatch& watch, std::chrono::milliseconds pause) {
    CEvent stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(pause);
        stop.Set();
    });
    Result result = watch.Wait(stop);
    stopper.join();
    return result;
}

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
