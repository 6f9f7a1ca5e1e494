// The cache store in a program directory that others share: special files, links, far-off or
// unusable names, and trees no path can name.
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cachestore_fixture.h"
#include "core/clientcontract.h"
#include "platform/fileops.h"
#include "platform/uniquefd_linux.h"
#include "support/privileges.h"

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

// Runs step and tells whether it ended by itself. A step that blocks on one of the FIFOs is
// released by opening them, so a failing test still ends.
bool EndsWithoutWaitingOn(const std::vector<std::string>& fifos, const std::function<void()>& step) {
    std::future<void> done = std::async(std::launch::async, step);
    if (done.wait_for(30s) == std::future_status::ready)
        return true;
    for (const std::string& fifo : fifos)
        ::close(::open(fifo.c_str(), O_RDWR | O_NONBLOCK));
    done.wait();
    return false;
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST_F(CacheStoreTest, SpecialFilesAreSkippedAsIfAbsent) {
    MakeInstance(1, {"work_unit.orv", "state.orv"});
    MakeInstance(2);
    MakeInstance(3);
    const std::vector<std::string> fifos = {InstFile(2, "user_info.orv"), InstFile(1, "outfile.orv"),
                                            InstFile(3, "stop_after_send.txt")};
    for (const std::string& fifo : fifos)
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    // No account file to hand on (the only one is a FIFO), no spy copy, no marker written: each
    // answers at once instead of waiting for a writer or a reader that never comes.
    bool supplied = true;
    bool copied = true;
    EXPECT_TRUE(EndsWithoutWaitingOn(fifos, [&] {
        supplied = store.SupplyUserInfo(1);
        copied = store.CopyToProgramDir(1, "outfile.orv");
        store.SetStopAfterSend(3, true);
        store.ReadResultCount(2);
    }));
    EXPECT_FALSE(supplied);
    EXPECT_FALSE(copied);
    EXPECT_FALSE(platform::PathExists(InstFile(1, "user_info.orv")));
    EXPECT_FALSE(platform::PathExists(dir / "outfile.orv"));
    for (const std::string& fifo : fifos) {
        struct stat st {};
        EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << fifo;
    }

    // A regular account file further up is still found past the FIFO.
    WriteFile(InstFile(3, "user_info.orv"), "nresults=4\n");
    EXPECT_TRUE(EndsWithoutWaitingOn(fifos, [&] { supplied = store.SupplyUserInfo(1); }));
    EXPECT_TRUE(supplied);
    EXPECT_EQ(ReadFile(InstFile(1, "user_info.orv")), "nresults=4\n");
}

TEST_F(CacheStoreTest, ALockFileThatCannotBeProbedCountsAsHeld) {
    MakeInstance(1);
    MakeInstance(2, {"work_unit.orv"});
    MakeDirs(InstFile(2, "lock.orv")); // a directory of that name
    EXPECT_TRUE(store.IsInstanceLocked(2));
    store.CompactInstances(); // nothing moves it into the gap
    EXPECT_EQ(store.GetInstanceState(2), IS_WORK_UNIT);
    EXPECT_EQ(store.GetInstanceState(1), IS_EMPTY);
    EXPECT_EQ(store.FindNextToProcess(), 0u);

    MakeInstance(3);
    ASSERT_EQ(mkfifo(InstFile(3, "lock.orv").c_str(), 0600), 0);
    EXPECT_TRUE(store.IsInstanceLocked(3));
    MakeInstance(4);
    ASSERT_EQ(symlink("nowhere", InstFile(4, "lock.orv").c_str()), 0);
    EXPECT_TRUE(store.IsInstanceLocked(4));
    MakeInstance(5, {"lock.orv"});
    ASSERT_EQ(chmod(InstFile(5, "lock.orv").c_str(), 0), 0);
    {
        PermissionsEnforced asAUser;
        EXPECT_TRUE(store.IsInstanceLocked(5)); // no right to open it
    }
    ASSERT_EQ(chmod(InstFile(5, "lock.orv").c_str(), 0600), 0);
    EXPECT_FALSE(store.IsInstanceLocked(5)); // an ordinary lock file nobody holds
    EXPECT_FALSE(store.IsInstanceLocked(6)); // none at all
}

TEST_F(CacheStoreTest, LinksAreStraysNeverEnteredWrittenOrDeletedThrough) {
    TempDir outside;
    const std::vector<std::string> theirs = {contract::kStopAfterSendFile, contract::kLogMarkerFile,
                                             contract::kLoopDetectorFile, contract::kWorkUnitFile};
    for (const std::string& name : theirs)
        WriteFile(outside / name, "theirs");
    ASSERT_EQ(symlink(outside.Path().c_str(), Inst(1).c_str()), 0);

    EXPECT_EQ(store.GetInstanceState(1), IS_MISSING);
    EXPECT_EQ(store.CountInstances(), 0u);
    EXPECT_EQ(store.CountStopAfterSend(), 0u);
    EXPECT_EQ(store.FindNextToProcess(), 0u);
    store.SetStopAfterSend(1, false);
    EXPECT_FALSE(store.SetInstanceFile(1, contract::kLogMarkerFile, false));
    EXPECT_FALSE(store.SetInstanceFile(1, contract::kLoopDetectorFile, false));
    EXPECT_FALSE(store.SetInstanceFile(1, "new.txt", true));
    store.DeleteInstance(1);

    // In the run the link is moved aside as it is, and the instance above takes its number.
    MakeInstance(2, {"result.orv"});
    ASSERT_EQ(symlink(outside.Path().c_str(), Inst(7).c_str()), 0);
    store.CompactInstances();
    EXPECT_TRUE(IsLink(dir / "1.stray"));
    EXPECT_EQ(store.GetInstanceState(1), IS_RESULT);
    EXPECT_TRUE(IsLink(Inst(7))); // above the run: left alone
    std::vector<std::string> sorted = theirs;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Names(outside.Path()), sorted);
    for (const std::string& name : theirs)
        EXPECT_EQ(ReadFile(outside / name), "theirs") << name;
}

TEST_F(CacheStoreTest, StraysInTheRunAreMovedAsideSoEveryInstanceAboveCounts) {
    MakeInstance(1, {"work_unit.orv"});
    MakeInstance(2, {"result.orv"});
    WriteFile(dir / "3", "the user's file");
    WriteFile(dir / "3.stray", "an older stray");
    MakeInstance(4, {"work_unit.orv"});
    MakeInstance(5, {"result.orv"});
    store.CompactInstances();
    EXPECT_EQ(store.CountInstances(), 4u);
    EXPECT_EQ(store.GetInstanceState(3), IS_RESULT);
    EXPECT_EQ(store.GetInstanceState(4), IS_WORK_UNIT);
    EXPECT_EQ(ReadFile(dir / "3.stray"), "an older stray");
    EXPECT_EQ(ReadFile(dir / "3.stray-2"), "the user's file");

    // A directory we may not look into shows as empty, cannot be deleted, and is moved aside whole.
    TempDir other;
    CCacheStore otherStore(other.Path(), "vantrel", slots);
    MakeDirs(other / "1");
    WriteFile(other / "1/work_unit.orv", "one");
    MakeDirs(other / "2");
    WriteFile(other / "2/private", "keep");
    MakeDirs(other / "3");
    WriteFile(other / "3/result.orv", "three");
    ASSERT_EQ(chmod((other / "2").c_str(), 0), 0);
    {
        PermissionsEnforced asAUser;
        otherStore.CompactInstances();
        EXPECT_EQ(otherStore.CountInstances(), 2u);
        EXPECT_EQ(otherStore.GetInstanceState(2), IS_RESULT);
    }
    ASSERT_EQ(chmod((other / "2.stray").c_str(), 0700), 0);
    EXPECT_EQ(ReadFile(other / "2.stray/private"), "keep");
}

// A chain of depth directories "d" below path, made relative to each other: no path names it.
void MakeChain(const std::string& path, int depth, const std::string& linkTarget) {
    platform::UniqueFd at(::open(path.c_str(), O_RDONLY | O_DIRECTORY));
    for (int i = 0; i < depth && at.IsValid(); ++i) {
        ASSERT_EQ(::mkdirat(at.Get(), "d", 0700), 0);
        if (i == depth / 2)
            ::close(::openat(at.Get(), "file", O_WRONLY | O_CREAT, 0600));
        at = platform::UniqueFd(::openat(at.Get(), "d", O_RDONLY | O_DIRECTORY));
    }
    ASSERT_TRUE(at.IsValid());
    ASSERT_EQ(::symlinkat(linkTarget.c_str(), at.Get(), "link"), 0);
}

// The highest descriptor this process has open.
int HighestOpenDescriptor() {
    int highest = 0;
    for (const auto& entry : platform::ListDirectory("/proc/self/fd"))
        highest = std::max(highest, std::atoi(entry.name.c_str()));
    return highest;
}

TEST_F(CacheStoreTest, DeepTreesAreDeletedWithAFewDescriptors) {
    // In memory where the machine has it: tens of thousands of directories are slow on a disk.
    TempDir fast(platform::IsDirectory("/dev/shm") ? "/dev/shm" : "");
    CCacheStore fastStore(fast.Path(), "vantrel", slots);
    TempDir outside;
    WriteFile(outside / "precious", "keep");
    MakeDirs(fast / "1");
    WriteFile(fast / "1/work_unit.orv", "x");
    MakeDirs(fast / "2");
    MakeChain(fast / "2", 20'000, outside.Path());

    // A handful of descriptors above those already open: far fewer than the depth.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(HighestOpenDescriptor() + 8);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    fastStore.CompactInstances();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_FALSE(platform::PathExists(fast / "2"));
    EXPECT_EQ(fastStore.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_EQ(ReadFile(outside / "precious"), "keep");
}

} // namespace
} // namespace vantrel::test
