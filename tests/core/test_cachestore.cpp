#include "cachestore_fixture.h"
#include "platform/fileops.h"

namespace vantrel::test {
namespace {

TEST_F(CacheStoreTest, ClassifiesByWhichClientFilesExist) {
    MakeInstance(1, {"work_unit.orv", "result.orv"});
    MakeInstance(2, {"result.orv", "wtemp.orv"});
    MakeInstance(3, {"wtemp.orv"});
    MakeInstance(4, {"state.orv"});
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_EQ(store.GetInstanceState(2), IS_RESULT);
    EXPECT_EQ(store.GetInstanceState(3), IS_PARTIAL);
    EXPECT_EQ(store.GetInstanceState(4), IS_EMPTY);
    EXPECT_EQ(store.GetInstanceState(5), IS_MISSING);
    EXPECT_EQ(store.GetInstancePath(0), dir.Path());
    EXPECT_EQ(store.GetInstancePath(12), dir / "12");

    // A plain file where an instance directory would be is no instance.
    WriteFile(dir / "6", "not a directory");
    EXPECT_EQ(store.GetInstanceState(6), IS_MISSING);
}

TEST_F(CacheStoreTest, CountsTheRunUpToTheFirstGapAndItsMarkers) {
    EXPECT_EQ(store.CountInstances(), 0u);
    MakeInstance(1, {"work_unit.orv"});
    MakeInstance(2, {"stop_after_send.txt"});
    MakeInstance(4, {"stop_after_send.txt"});
    EXPECT_EQ(store.CountInstances(), 2u);
    EXPECT_EQ(store.CountStopAfterSend(), 1u);

    store.SetStopAfterSend(1, true);
    EXPECT_TRUE(store.HasStopAfterSend(1));
    EXPECT_EQ(store.CountStopAfterSend(), 2u);
    store.SetStopAfterSend(1, false);
    store.SetStopAfterSend(1, false); // already gone: nothing happens
    EXPECT_FALSE(store.HasStopAfterSend(1));
}

TEST_F(CacheStoreTest, CompactionDeletesEmptiesAndMovesTheHighestIntoGaps) {
    // 1 work unit, 2 empty, 3 result: 2 is deleted and 3 moves down to 2.
    MakeInstance(1, {"work_unit.orv"});
    MakeInstance(2, {"stop_after_send.txt"});
    MakeInstance(3, {"result.orv"});
    // What it found is told under the numbers it left the instances at.
    using States = std::map<std::uint32_t, InstanceState>;
    EXPECT_EQ(store.CompactInstances(), (States{{1, IS_WORK_UNIT}, {2, IS_RESULT}}));
    EXPECT_EQ(store.CountInstances(), 2u);
    EXPECT_EQ(store.GetInstanceState(2), IS_RESULT);
    EXPECT_EQ(store.GetInstanceState(3), IS_MISSING);

    // Directories 1, 2 and 4: 4 moves to 3.
    MakeInstance(4, {"wtemp.orv"});
    EXPECT_EQ(store.CountInstances(), 2u);
    EXPECT_EQ(store.CompactInstances(), (States{{1, IS_WORK_UNIT}, {2, IS_RESULT}, {3, IS_PARTIAL}}));
    EXPECT_EQ(store.CountInstances(), 3u);
    EXPECT_EQ(store.GetInstanceState(3), IS_PARTIAL);
}

TEST_F(CacheStoreTest, CompactionCreatesInstanceOneInAnEmptyProgramDirectory) {
    store.CompactInstances();
    EXPECT_EQ(store.GetInstanceState(1), IS_EMPTY);
    EXPECT_EQ(store.CountInstances(), 1u);
}

TEST_F(CacheStoreTest, CompactionNeverMovesALockedInstance) {
    // 1 empty, 2 locked, 3 work unit: 1 is deleted, 3 moves to 1, 2 keeps its number.
    MakeInstance(1);
    MakeInstance(2, {"work_unit.orv"});
    MakeInstance(3, {"work_unit.orv", "marker3"});
    auto client = LockInstance(2);
    EXPECT_EQ(store.CompactInstances(), (std::map<std::uint32_t, InstanceState>{{1, IS_WORK_UNIT}, {2, IS_WORK_UNIT}}));
    EXPECT_TRUE(platform::PathExists(InstFile(1, "marker3")));
    EXPECT_TRUE(platform::PathExists(InstFile(2, "lock.orv")));
    EXPECT_EQ(store.CountInstances(), 2u);
}

TEST_F(CacheStoreTest, CompactionRefillsGapsBelowLockedInstancesWithEmptyOnes) {
    // 1 empty and 2 locked: nothing can move into 1, so an empty 1 is created again.
    MakeInstance(1);
    MakeInstance(2, {"work_unit.orv"});
    auto first = LockInstance(2);
    // The empty 1 it made is not among what it found.
    EXPECT_EQ(store.CompactInstances(), (std::map<std::uint32_t, InstanceState>{{2, IS_WORK_UNIT}}));
    EXPECT_EQ(store.GetInstanceState(1), IS_EMPTY);
    EXPECT_EQ(store.GetInstanceState(2), IS_WORK_UNIT);

    // 1 empty, 4 and 5 work units with 5 locked (POSIX record lock this time), 2 and 3 missing.
    TempDir other;
    CRunningSlots otherSlots;
    CCacheStore otherStore(other.Path(), "vantrel", otherSlots);
    MakeDirs(other / "1");
    MakeDirs(other / "4");
    MakeDirs(other / "5");
    WriteFile(other / "4/work_unit.orv", "four");
    WriteFile(other / "5/work_unit.orv", "five");
    TestChild second(LockHolderArgs("posix", other / "5/lock.orv"));
    ASSERT_EQ(second.ReadLine(), "locked");
    otherStore.CompactInstances();
    EXPECT_EQ(ReadFile(other / "1/work_unit.orv"), "four");
    for (unsigned n : {2u, 3u, 4u})
        EXPECT_EQ(otherStore.GetInstanceState(n), IS_EMPTY) << n;
    EXPECT_EQ(ReadFile(other / "5/work_unit.orv"), "five");
    EXPECT_EQ(otherStore.CountInstances(), 5u);
}

TEST_F(CacheStoreTest, CompactionPassesOverNamesThatAreNotInstances) {
    MakeDirs(dir / "0");
    MakeDirs(dir / "x1");
    MakeDirs(dir / "007");
    MakeDirs(dir / "12abc");
    MakeDirs(dir / "99999999999999999999");
    WriteFile(dir / "3", "a plain file");
    MakeInstance(2, {"work_unit.orv"});
    store.CompactInstances();
    // Only real instance directories move or go; everything else is left as it was.
    for (const char* name : {"0", "x1", "007", "12abc", "99999999999999999999"})
        EXPECT_TRUE(platform::IsDirectory(dir / name)) << name;
    EXPECT_EQ(ReadFile(dir / "3"), "a plain file");
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_EQ(store.CountInstances(), 1u);
}

TEST_F(CacheStoreTest, LockedOnlyWhileAProcessHoldsTheLockFile) {
    MakeInstance(1, {"lock.orv"});
    EXPECT_FALSE(store.IsInstanceLocked(1)); // present but held by nobody
    EXPECT_FALSE(store.IsInstanceLocked(2)); // no such file
    {
        auto client = LockInstance(1);
        EXPECT_TRUE(store.IsInstanceLocked(1));
    }
    EXPECT_FALSE(store.IsInstanceLocked(1));
    {
        auto client = LockInstance(1, "ofd");
        EXPECT_TRUE(store.IsInstanceLocked(1));
    }
}

TEST_F(CacheStoreTest, NextToProcessIsTheOldestWaitingWorkUnitLowerNumberOnTies) {
    MakeInstance(1, {"work_unit.orv"});
    MakeInstance(2, {"work_unit.orv"});
    MakeInstance(3, {"work_unit.orv"});
    MakeInstance(4, {"result.orv"});
    SetMTime(InstFile(1, "work_unit.orv"), 1'000'300);
    SetMTime(InstFile(2, "work_unit.orv"), 1'000'300);
    SetMTime(InstFile(3, "work_unit.orv"), 1'000'000);
    EXPECT_EQ(store.FindNextToProcess(), 3u);

    // A running or locked instance is never returned, however old.
    slots.Resize(2);
    ASSERT_TRUE(slots.ClaimLowestFree(3));
    EXPECT_EQ(store.FindNextToProcess(), 1u);
    auto client = LockInstance(1);
    EXPECT_EQ(store.FindNextToProcess(), 2u);
    ASSERT_TRUE(slots.ClaimLowestFree(2));
    EXPECT_EQ(store.FindNextToProcess(), 0u);

    // An instance beyond a gap is not part of the cache.
    slots.Resize(0);
    client.reset();
    TempDir other;
    CCacheStore gapStore(other.Path(), "vantrel", slots);
    MakeDirs(other / "2");
    WriteFile(other / "2/work_unit.orv", "x");
    EXPECT_EQ(gapStore.FindNextToProcess(), 0u);
}

TEST_F(CacheStoreTest, ResultCountReadsTheFirstNonZeroNresultsLine) {
    MakeInstance(1);
    auto count = [&](const std::string& text) {
        WriteFile(InstFile(1, "user_info.orv"), text);
        return store.ReadResultCount(1);
    };
    EXPECT_EQ(count("id=5\nnresults=12\n"), 12);
    EXPECT_EQ(count("NRESULTS=0\nother=1\nNRESULTS=7\nnresults=9\n"), 7);
    EXPECT_EQ(count("nresults = 12\n"), 0);           // blanks around "=" do not match
    EXPECT_EQ(count("nresults=  \t42abc"), 42);       // leading blanks, no final line end
    EXPECT_EQ(count("nresults=x\r\nnresults=3\r\n"), 3);
    EXPECT_EQ(count("nresults=99999999999999\n"), INT32_MAX);
    EXPECT_EQ(count(std::string("\0\xff\xfe\0nresults=4", 13)), 0); // binary: no line starts with the key
    EXPECT_EQ(count(std::string(3 << 20, 'a') + "\nnresults=5\n"), 0); // huge: reading stops early
    EXPECT_EQ(store.ReadResultCount(2), 0);            // no file

    WriteFile(dir / "user_info.orv", "nresults=10\n");
    EXPECT_EQ(store.ReadResultCount(0), 10);
}

TEST_F(CacheStoreTest, SupplyUserInfoCopiesFromTheFirstInstanceThatHasOne) {
    for (unsigned n = 1; n <= 5; ++n)
        MakeInstance(n);
    WriteFile(dir / "user_info.orv", "from the program directory");
    EXPECT_FALSE(store.SupplyUserInfo(3)); // the program directory's file is no source
    EXPECT_FALSE(platform::PathExists(InstFile(3, "user_info.orv")));
    MakeInstance(7);
    WriteFile(InstFile(7, "user_info.orv"), "beyond the gap");
    EXPECT_FALSE(store.SupplyUserInfo(3)); // 7 is no instance of the cache while 6 is missing
    EXPECT_FALSE(platform::PathExists(InstFile(3, "user_info.orv")));

    WriteFile(InstFile(5, "user_info.orv"), "from five");
    EXPECT_TRUE(store.SupplyUserInfo(3));
    EXPECT_EQ(ReadFile(InstFile(3, "user_info.orv")), "from five");

    WriteFile(InstFile(3, "user_info.orv"), "own");
    EXPECT_TRUE(store.SupplyUserInfo(3)); // already there: nothing copied
    EXPECT_EQ(ReadFile(InstFile(3, "user_info.orv")), "own");
}

TEST_F(CacheStoreTest, CopyToProgramDirReplacesAndReportsFailure) {
    MakeInstance(2);
    WriteFile(InstFile(2, "state.orv"), "prog=0.5\n");
    WriteFile(dir / "state.orv", "old");
    EXPECT_TRUE(store.CopyToProgramDir(2, "state.orv"));
    EXPECT_EQ(ReadFile(dir / "state.orv"), "prog=0.5\n");
    EXPECT_FALSE(store.CopyToProgramDir(2, "outfile.orv"));
    EXPECT_EQ(ReadFile(dir / "state.orv"), "prog=0.5\n");
}

TEST_F(CacheStoreTest, CountersFollowTheInstanceStatesAndSlots) {
    MakeInstance(1, {"work_unit.orv"});
    MakeInstance(2, {"work_unit.orv"});
    MakeInstance(3, {"result.orv"});
    MakeInstance(4);
    slots.Resize(2);
    ASSERT_TRUE(slots.ClaimLowestFree(1));
    CacheCounters c = CountCacheState(store, slots);
    EXPECT_EQ(c.CurrentCacheSize, 4u);
    EXPECT_EQ(c.DesiredCacheSize, 4u);
    EXPECT_EQ(c.ProcessingCount, 1u);
    EXPECT_EQ(c.WaitingToProcess, 1u);
    EXPECT_EQ(c.ReadyToTransmit, 1u);
    EXPECT_EQ(c.NeedToFill, 2u);

    // Markers retire instances from the fill count, never below zero.
    store.SetStopAfterSend(1, true);
    store.SetStopAfterSend(2, true);
    store.SetStopAfterSend(4, true);
    c = CountCacheState(store, slots);
    EXPECT_EQ(c.DesiredCacheSize, 1u);
    EXPECT_EQ(c.NeedToFill, 0u);

    // A finished client still in its slot does not make the waiting count wrap.
    WriteFile(InstFile(1, "result.orv"), "x");
    platform::DeleteFile(InstFile(1, "work_unit.orv"));
    platform::DeleteFile(InstFile(2, "work_unit.orv"));
    c = CountCacheState(store, slots);
    EXPECT_EQ(c.WaitingToProcess, 0u);
    EXPECT_EQ(c.ProcessingCount, 1u);
}

TEST_F(CacheStoreTest, MarkingToADesiredSizeCountsTheRunAsAFreshCountWould) {
    auto expectFresh = [this](const CacheTally& tally) {
        const CacheTally fresh = TallyCache(store);
        EXPECT_EQ(tally.Instances, fresh.Instances);
        EXPECT_EQ(tally.StopAfterSend, fresh.StopAfterSend);
        EXPECT_EQ(tally.WorkUnits, fresh.WorkUnits);
        EXPECT_EQ(tally.ReadyToTransmit, fresh.ReadyToTransmit);
        EXPECT_EQ(tally.Empty, fresh.Empty);
    };
    // The marker moves from 2 to the top; 3 is counted from what the caller says it holds.
    MakeInstance(1, {"work_unit.orv"});
    MakeInstance(2, {"result.orv", "stop_after_send.txt"});
    MakeInstance(3, {"work_unit.orv"});
    std::vector<std::uint32_t> heard;
    CacheTally tally = MarkToDesiredSize(store, 2, {{3, IS_WORK_UNIT}}, [&](std::uint32_t n) { heard.push_back(n); });
    EXPECT_FALSE(store.HasStopAfterSend(2));
    EXPECT_TRUE(store.HasStopAfterSend(3));
    EXPECT_EQ(heard, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(tally.Instances, 3u);
    EXPECT_EQ(tally.StopAfterSend, 1u);
    expectFresh(tally);

    // A file where instance 5 would be made ends the run below it; 6's marker still goes, as it
    // lies within the desired size.
    WriteFile(dir / "5", "in the way");
    MakeInstance(6, {"stop_after_send.txt"});
    heard.clear();
    tally = MarkToDesiredSize(store, 6, {}, [&](std::uint32_t n) { heard.push_back(n); });
    EXPECT_TRUE(platform::IsDirectory(Inst(4)));
    EXPECT_FALSE(store.HasStopAfterSend(6));
    EXPECT_EQ(heard, (std::vector<std::uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(tally.Empty, 1u);
    expectFresh(tally);
}

TEST_F(CacheStoreTest, TheNewestAccountFileIsTheLowestOfTheHighestCount) {
    MakeInstance(1);
    MakeInstance(2);
    MakeInstance(3);
    WriteFile(InstFile(1, "user_info.orv"), "NRESULTS=4\n");
    WriteFile(InstFile(2, "user_info.orv"), "NRESULTS=9\n");
    WriteFile(InstFile(3, "user_info.orv"), "NRESULTS=9\n");
    NewestUserInfo newest{.best = 4};
    for (std::uint32_t n = 1; n <= 3; ++n)
        newest.Look(store, n);
    EXPECT_EQ(newest.instance, 2u);
    EXPECT_EQ(newest.best, 9);
    NewestUserInfo none{.best = 9};
    for (std::uint32_t n = 1; n <= 3; ++n)
        none.Look(store, n);
    EXPECT_EQ(none.instance, 0u);
}

} // namespace
} // namespace vantrel::test
