// The work-unit directory watcher: wake-ups, start and stop rules, the watch it holds while it
// runs, the copies for an outside monitor and the order they are written in.
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

TEST_F(WatcherTest, AMissingOrVanishingDirectoryEndsTheWatcherWithoutSpinning) {
    ctx.WatchedInstance = 7;
    watcher.StartWatcher();
    EXPECT_TRUE(MessageArrives());
    EXPECT_TRUE(WaitUntil([this] { return !watcher.IsRunning(); }));
    EXPECT_EQ(MessagesWithin(200ms), 0);

    MakeDirs(Inst(2));
    ctx.WatchedInstance = 2;
    watcher.StartWatcher();
    ASSERT_TRUE(MessageArrives());
    std::filesystem::remove_all(Inst(2));
    if (RunsUnderWine())
        GTEST_SKIP() << "Wine keeps a removed directory, not marked deleted, while the watch holds it open";
    EXPECT_TRUE(WaitUntil([this] { return !watcher.IsRunning(); }));
    Drain();
    EXPECT_EQ(MessagesWithin(200ms), 0);
    EXPECT_TRUE(WatchesAre(0));
}

TEST_F(WatcherTest, OneWatcherAtATimeAndAStopEndsOnlyTheOneRunningThen) {
    MakeDirs(Inst(1));
    ctx.WatchedInstance = 1;
    for (int i = 0; i < 3; ++i)
        watcher.StartWatcher();
    EXPECT_TRUE(watcher.IsRunning());
    // Each start ended and joined the watcher before it, so only the last one's watch is open.
    EXPECT_TRUE(WaitUntil([] { return WatchesAre(1); }));
    ASSERT_TRUE(MessageArrives());
    EXPECT_TRUE(WatchesAre(1));

    watcher.PulseStop();
    EXPECT_FALSE(watcher.IsRunning());
    EXPECT_TRUE(WatchesAre(0));
    Drain();
    WriteFile(InstFile(1, "state.orv"), "prog=0.3\n");
    EXPECT_EQ(MessagesWithin(200ms), 0);

    // A stop while none runs does not reach the next one.
    watcher.PulseStop();
    watcher.StartWatcher();
    ASSERT_TRUE(MessageArrives());
    WriteFile(InstFile(1, "state.orv"), "prog=0.4\n");
    EXPECT_TRUE(MessageArrives());
    EXPECT_TRUE(watcher.IsRunning());

    // Exit ends it, and every later start too.
    watcher.StopForGood();
    EXPECT_FALSE(watcher.IsRunning());
    Drain();
    watcher.StartWatcher();
    EXPECT_FALSE(watcher.IsRunning());
    EXPECT_EQ(MessagesWithin(200ms), 0);
    EXPECT_TRUE(WatchesAre(0));
}

TEST_F(WatcherTest, SpyFilesAreCopiedInTheirOrderAndInstanceZeroChangesNothing) {
    MakeClientFiles(2);
    CWriteRecorder recorder(dir.Path());

    watcher.CopySpyFiles(2);

    std::vector<std::string> order;
    for (const std::string& name : recorder.Names())
        if (std::find(kSpyFiles.begin(), kSpyFiles.end(), name) != kSpyFiles.end() &&
            std::find(order.begin(), order.end(), name) == order.end())
            order.push_back(name);
    EXPECT_EQ(order, (std::vector<std::string>{"work_unit.orv", "state.orv", "version.orv", "result_header.orv",
                                               "pid.orv", "lock.orv"}));
    for (const char* name : kSpyFiles)
        EXPECT_EQ(ReadFile(dir / name), std::string(name) + " of 2");
    EXPECT_FALSE(std::filesystem::exists(dir / "outfile.orv"));

    // A file the client has not written yet is passed over; the rest are still copied.
    std::filesystem::remove(InstFile(2, "pid.orv"));
    WriteFile(InstFile(2, "lock.orv"), "lock.orv again");
    watcher.CopySpyFiles(2);
    EXPECT_EQ(ReadFile(dir / "lock.orv"), "lock.orv again");

    // Source and target would be the same files.
    recorder.Names();
    watcher.CopySpyFiles(0);
    watcher.CopyChangedFiles(0);
    EXPECT_TRUE(recorder.Names().empty());
}

TEST_F(WatcherTest, CheckBoxesStartAndStopTheWatcherByTheOtherBoxsState) {
    MakeClientFiles(2);
    ctx.WatchedInstance = 2;

    options.UseSpy = true;
    watcher.OnUseSpyClicked();
    EXPECT_TRUE(watcher.IsRunning());
    for (const char* name : kSpyFiles)
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;

    // Already watching for the spy: only the figures are missing.
    options.MonitorProgress = true;
    EXPECT_TRUE(watcher.OnMonitorProgressClicked());
    // The watcher's thread sets up its watch in its own time.
    EXPECT_TRUE(WaitUntil([] { return WatchesAre(1); }));

    options.MonitorProgress = false;
    EXPECT_FALSE(watcher.OnMonitorProgressClicked());
    EXPECT_TRUE(watcher.IsRunning());

    options.UseSpy = false;
    watcher.OnUseSpyClicked();
    EXPECT_FALSE(watcher.IsRunning());

    options.MonitorProgress = true;
    EXPECT_FALSE(watcher.OnMonitorProgressClicked()); // the new watcher's first message asks for it
    EXPECT_TRUE(watcher.IsRunning());

    // Turning the spy on beside a running monitor starts no second watcher.
    options.UseSpy = true;
    watcher.OnUseSpyClicked();
    EXPECT_TRUE(WaitUntil([] { return WatchesAre(1); }));
    options.UseSpy = false;
    watcher.OnUseSpyClicked();
    EXPECT_TRUE(watcher.IsRunning());

    options.MonitorProgress = false;
    EXPECT_FALSE(watcher.OnMonitorProgressClicked());
    EXPECT_FALSE(watcher.IsRunning());
}

} // namespace
} // namespace vantrel::test::watchertests
