// The cache store beside clients that hold instances: far-off locked numbers, names past the
// cap, and processes working in instances or below them.
#include <algorithm>
#include <string>
#include <vector>

#include "cachestore_fixture.h"
#include "platform/fileops.h"

namespace vantrel::test {
namespace {

TEST_F(CacheStoreTest, FarLockedNumbersNeitherFillTheCacheNorSlowCompaction) {
    // A locked instance far above a small cache stays outside the run: no 19,997 empty ones.
    MakeInstance(1, {"work_unit.orv"});
    MakeInstance(2, {"result.orv"});
    MakeInstance(20000, {"work_unit.orv"});
    auto client = LockInstance(20000);
    store.CompactInstances();
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"1", "2", "20000"}));
    EXPECT_EQ(store.CountInstances(), 2u);

    // Unlocked, a later compaction moves it down.
    client.reset();
    store.CompactInstances();
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(store.GetInstanceState(3), IS_WORK_UNIT);

    // A gap small against the cache below a locked one is still filled with empty instances.
    MakeInstance(5, {"result.orv"});
    client = LockInstance(5);
    store.CompactInstances();
    EXPECT_EQ(store.GetInstanceState(4), IS_EMPTY);
    EXPECT_EQ(store.CountInstances(), 5u);
    client.reset();

    // Names beyond the cap are strays, never instances, whatever they hold; the first instance is
    // there all the same.
    TempDir other;
    CCacheStore otherStore(other.Path(), "vantrel", slots);
    for (const char* name : {"4294967295", "1000001"}) {
        MakeDirs(other / name);
        WriteFile(other / (std::string(name) + "/work_unit.orv"), name);
    }
    TestChild far(LockHolderArgs("flock", other / "4294967295/lock.orv"));
    ASSERT_EQ(far.ReadLine(), "locked");
    MakeDirs(other / "1000000");
    otherStore.CompactInstances();
    EXPECT_EQ(Names(other.Path()), (std::vector<std::string>{"1", "1000001", "4294967295"}));
    EXPECT_EQ(otherStore.ListInstanceNumbers(), std::vector<std::uint32_t>{1});
    EXPECT_EQ(ReadFile(other / "1000001/work_unit.orv"), "1000001");
}

TEST_F(CacheStoreTest, InstancesInUseAreNeverMovedOrDeleted) {
    // 1 empty; 2 a work unit nobody uses; 3 claimed by a runner whose client has not locked yet;
    // 4 empty with a process working in it (a transmit client about to fetch); 5 a work unit with a
    // process working in a subdirectory of it.
    MakeInstance(1);
    MakeInstance(2, {"work_unit.orv", "marker2"});
    MakeInstance(3, {"work_unit.orv"});
    MakeInstance(4);
    MakeInstance(5, {"work_unit.orv"});
    MakeDirs(InstFile(5, "sub"));
    slots.Resize(1);
    std::optional<SlotClaim> inThree = slots.ClaimLowestFree(3);
    ASSERT_TRUE(inThree);
    TempDir outside;
    TestChild inFour(LockHolderArgs("flock", outside / "a.lock"), Inst(4));
    ASSERT_EQ(inFour.ReadLine(), "locked");
    TestChild inFive(LockHolderArgs("flock", outside / "b.lock"), InstFile(5, "sub"));
    ASSERT_EQ(inFive.ReadLine(), "locked");

    store.CompactInstances();
    EXPECT_TRUE(platform::PathExists(InstFile(1, "marker2"))); // the free one filled the gap
    EXPECT_EQ(store.GetInstanceState(2), IS_EMPTY);             // made to reach the ones in use
    EXPECT_EQ(store.GetInstanceState(3), IS_WORK_UNIT);
    EXPECT_EQ(store.GetInstanceState(4), IS_EMPTY);
    EXPECT_TRUE(platform::IsDirectory(InstFile(5, "sub")));
    EXPECT_EQ(store.CountInstances(), 5u);

    // Once free, each is treated like any other: the empty ones go, the work units move down.
    inFour.Kill();
    inFive.Kill();
    slots.Free(*inThree);
    platform::DeleteFile(InstFile(1, "work_unit.orv"));
    platform::DeleteFile(InstFile(1, "marker2"));
    store.CompactInstances();
    EXPECT_EQ(store.CountInstances(), 2u);
    EXPECT_TRUE(platform::IsDirectory(InstFile(1, "sub")));
    EXPECT_EQ(store.GetInstanceState(2), IS_WORK_UNIT);
}

} // namespace
} // namespace vantrel::test
