// The work-unit directory watcher: wake-ups, start and stop rules, the copies for an outside monitor.
#include "watcher_fixture.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::test::watchertests {
namespace {

TEST_F(WatcherTest, WakesOnAWriteDirectlyInTheWatchedDirectoryOnly) {
    MakeDirs(Inst(2) + "/sub");
    MakeDirs(Inst(3));
    ctx.WatchedInstance = 2;

    watcher.StartWatcher();
    ASSERT_TRUE(MessageArrives()); // at once, before any change
    Drain();

    WriteFile(InstFile(3, "state.orv"), "prog=0.5\n");
    WriteFile(Inst(2) + "/sub/state.orv", "prog=0.5\n");
    EXPECT_EQ(MessagesWithin(300ms), 0);

    WriteFile(InstFile(2, "state.orv"), "prog=0.25\n");
    EXPECT_TRUE(MessageArrives());
    Drain();
    // And again at the next write: the watch is re-armed.
    WriteFile(InstFile(2, "state.orv"), "prog=0.26\n");
    EXPECT_TRUE(MessageArrives());
    EXPECT_TRUE(watcher.IsRunning());
}

TEST_F(WatcherTest, AnUnsetWatchedInstanceIsChosenAtStartOrTheProgramDirectoryIsWatched) {
    MakeDirs(Inst(3));
    watcher.SetWatchedInstanceChooser([] { return 3u; });
    watcher.StartWatcher();
    ASSERT_TRUE(MessageArrives());
    EXPECT_EQ(ctx.WatchedInstance.load(), 3u);
    WriteFile(InstFile(3, "state.orv"), "prog=0.1\n");
    EXPECT_TRUE(MessageArrives());
    Drain();

    // Already set: the choice is not asked for again.
    watcher.SetWatchedInstanceChooser([] { return 9u; });
    watcher.StartWatcher();
    ASSERT_TRUE(MessageArrives()); // the new watcher has taken its instance
    EXPECT_EQ(ctx.WatchedInstance.load(), 3u);

    // Without a busy instance the program directory itself is watched.
    watcher.SetWatchedInstanceChooser([] { return 0u; });
    ctx.WatchedInstance = 0;
    watcher.StartWatcher();
    ASSERT_TRUE(MessageArrives());
    WriteFile(dir / "ORVALog.csv", "x");
    EXPECT_TRUE(MessageArrives());
    EXPECT_EQ(ctx.WatchedInstance.load(), 0u);
}

TEST_F(WatcherTest, AChangeRefreshesTheFiguresAndCopiesTheChangedFiles) {
    MakeClientFiles(2);
    ctx.WatchedInstance = 2;
    int updates = 0;
    auto updateProgress = [&updates] { ++updates; };

    options.MonitorProgress = true;
    watcher.OnWatcherMessage(updateProgress);
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "state.orv"));

    options.MonitorProgress = false;
    options.UseSpy = true;
    watcher.OnWatcherMessage(updateProgress);
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(ReadFile(dir / "state.orv"), "state.orv of 2");
    EXPECT_EQ(ReadFile(dir / "outfile.orv"), "outfile of 2");
    EXPECT_FALSE(std::filesystem::exists(dir / "work_unit.orv"));
}

} // namespace
} // namespace vantrel::test::watchertests
