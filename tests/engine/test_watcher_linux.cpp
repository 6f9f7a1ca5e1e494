// The watcher's Linux side: the inotify descriptor it holds while it runs, and the order in which
// the copies for an outside monitor are written.
#include "watcher_fixture.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantrel::test::watchertests {
namespace {

// How many inotify descriptors this process holds: one per watcher alive.
int CountInotifyDescriptors() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec).string() == "anon_inode:inotify")
            ++count;
    }
    return count;
}

// The names whose writing finished in a directory, in the order the kernel reports them.
class CWriteRecorder {
public:
    explicit CWriteRecorder(const std::string& dir) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(m_fd, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~CWriteRecorder() { close(m_fd); }
    CWriteRecorder(const CWriteRecorder&) = delete;
    CWriteRecorder& operator=(const CWriteRecorder&) = delete;

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[8192];
        ssize_t got;
        while ((got = read(m_fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0)
                    names.emplace_back(event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }

private:
    int m_fd;
};

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
    EXPECT_TRUE(WaitUntil([this] { return !watcher.IsRunning(); }));
    Drain();
    EXPECT_EQ(MessagesWithin(200ms), 0);
    EXPECT_EQ(CountInotifyDescriptors(), 0);
}

TEST_F(WatcherTest, OneWatcherAtATimeAndAStopEndsOnlyTheOneRunningThen) {
    MakeDirs(Inst(1));
    ctx.WatchedInstance = 1;
    for (int i = 0; i < 3; ++i)
        watcher.StartWatcher();
    EXPECT_TRUE(watcher.IsRunning());
    // Each start ended and joined the watcher before it, so only the last one's watch is open.
    EXPECT_TRUE(WaitUntil([] { return CountInotifyDescriptors() == 1; }));
    ASSERT_TRUE(MessageArrives());
    EXPECT_EQ(CountInotifyDescriptors(), 1);

    watcher.PulseStop();
    EXPECT_FALSE(watcher.IsRunning());
    EXPECT_EQ(CountInotifyDescriptors(), 0);
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
    EXPECT_EQ(CountInotifyDescriptors(), 0);
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
    EXPECT_TRUE(WaitUntil([] { return CountInotifyDescriptors() == 1; }));

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
    EXPECT_TRUE(WaitUntil([] { return CountInotifyDescriptors() == 1; }));
    options.UseSpy = false;
    watcher.OnUseSpyClicked();
    EXPECT_TRUE(watcher.IsRunning());

    options.MonitorProgress = false;
    EXPECT_FALSE(watcher.OnMonitorProgressClicked());
    EXPECT_FALSE(watcher.IsRunning());
}

} // namespace
} // namespace vantrel::test::watchertests
