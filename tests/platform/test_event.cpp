#include "platform/event.h"
#include "platform/wait_linux.h"

#include <atomic>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using platform::CEvent;

bool FdReadable(const CEvent& event) {
    pollfd entry{platform::FdOf(event.Handle()), POLLIN, 0};
    return poll(&entry, 1, 0) == 1;
}

TEST(Event, ManualResetStaysSetUntilReset) {
    CEvent event;
    EXPECT_FALSE(event.IsSet() || event.Wait(20ms) || FdReadable(event));
    event.Set();
    event.Set();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.Wait()); // waiting does not consume it
    EXPECT_TRUE(event.Wait(0ms) && FdReadable(event));
    event.Reset(); // one reset clears however many sets came before
    EXPECT_FALSE(event.IsSet() || FdReadable(event));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
}

TEST(Event, SetFromAnotherThreadWakesWaiterAndPublishesItsWrites) {
    CEvent event;
    int payload = 0; // plain memory: only the event orders it (ThreadSanitizer checks)
    std::thread setter([&] {
        payload = 42;
        event.Set();
    });
    EXPECT_TRUE(event.Wait());
    EXPECT_EQ(payload, 42);
    setter.join();
}

TEST(Event, ConcurrentSetsKeepTheCounterAtOne) {
    CEvent event;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            while (!go.load()) {
            }
            for (int i = 0; i < 2000; ++i) {
                event.Set();
                if (t == 0 && i % 3 == 0)
                    event.Reset();
            }
        });
    go = true;
    for (auto& thread : threads)
        thread.join();
    event.Set();
    std::uint64_t counter = 0; // the eventfd's own counter: sets must not stack up
    ASSERT_EQ(read(platform::FdOf(event.Handle()), &counter, sizeof counter), static_cast<ssize_t>(sizeof counter));
    EXPECT_EQ(counter, 1u);
}

} // namespace
} // namespace vantrel::test
