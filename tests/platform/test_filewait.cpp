#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "support/tempdir.h"

// The waiting exclusive open, the lock a client takes on a file that many processes count in.
namespace vantrel::test {
namespace {

using namespace vantrel::platform;
using namespace std::chrono_literals;

constexpr FileOpenOptions kCounter{.write = true, .create = true, .exclusive = true};

// Adds one to the number in the file, holding it meanwhile; false when it could not be had.
bool CountOnce(const std::string& path) {
    File file = OpenRegularFileWaiting(path, kCounter, 1min);
    if (!file.IsValid())
        return false;
    char text[32] = {};
    std::optional<std::size_t> got = file.Read(text, sizeof text);
    unsigned count = 0;
    if (!got || (*got > 0 && std::from_chars(text, text + *got, count).ec != std::errc()))
        return false;
    std::string next = std::to_string(count + 1);
    return file.Rewind() && file.WriteAll(next) && file.Truncate(next.size());
}

TEST(WaitingOpen, EveryContenderGetsTheFileInTurnAndOnlyAHolderIsWaitedFor) {
    TempDir dir;
    const std::string path = dir / "counter.orv";
    // Many holders taking turns fast: a contender that mistook a moment between two holders for
    // a fault would lose its count.
    constexpr int kThreads = 8, kTurns = 25;
    std::vector<int> failures(kThreads, 0);
    {
        std::vector<std::jthread> contenders;
        for (int t = 0; t < kThreads; ++t)
            contenders.emplace_back([&, t] {
                for (int turn = 0; turn < kTurns; ++turn)
                    failures[t] += CountOnce(path) ? 0 : 1;
            });
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(failures[t], 0) << "contender " << t;
    File result = OpenRegularFile(path, {});
    char text[32] = {};
    std::optional<std::size_t> got = result.Read(text, sizeof text);
    ASSERT_TRUE(got);
    EXPECT_EQ(std::string(text, *got), std::to_string(kThreads * kTurns));
    result.Close();

    bool heldByOther = true;
    File holder = OpenRegularFile(path, kCounter, heldByOther);
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(heldByOther);
    EXPECT_FALSE(OpenRegularFile(path, kCounter, heldByOther).IsValid());
    EXPECT_TRUE(heldByOther);
    std::jthread release([&] {
        std::this_thread::sleep_for(50ms);
        holder.Close();
    });
    EXPECT_TRUE(OpenRegularFileWaiting(path, kCounter, 1min).IsValid()); // once the holder lets go
    release.join();

    // What no holder causes is no reason to wait: a directory under the name fails at once.
    MakeDirs(dir / "dir.orv");
    EXPECT_FALSE(OpenRegularFile(dir / "dir.orv", kCounter, heldByOther).IsValid());
    EXPECT_FALSE(heldByOther);
    EXPECT_FALSE(OpenRegularFileWaiting(dir / "dir.orv", kCounter, 1min).IsValid());
}

} // namespace
} // namespace vantrel::test
