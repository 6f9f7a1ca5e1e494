// Clients that misbehave: one that exits at once, one that cannot be got rid of, and a runner whose
// slot was cut away while a new client of its instance started elsewhere.
#include <gtest/gtest.h>

#include "engine/clientcontrol.h"
#include "engine_fixture.h"
#include "platform/fileops.h"
#include "support/childprocess.h"

#include <filesystem>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

constexpr long long kMorning = 1714557600;

class RestingTest : public ProcessEngineTest {
protected:
    explicit RestingTest(std::chrono::milliseconds hangCheck) : ProcessEngineTest(Rest(hangCheck)) {}
    static Timings Rest(std::chrono::milliseconds hangCheck) {
        Timings t = ShortTimings();
        t.hangCheck = hangCheck;
        return t;
    }
};

class HourLongRestTest : public RestingTest {
protected:
    HourLongRestTest() : RestingTest(1h) {}
};

TEST_F(HourLongRestTest, AClientThatExitsAtOnceRestsItsInstanceWhileTheOthersGetTheirTurn) {
    slots.Resize(1);
    MakeWorkUnit(1, kMorning);
    MakeWorkUnit(2, kMorning + 10);
    ScriptClient(1, "exit_now=1\n");
    ScriptClient(2, "run_ms=30\nstate_writes=1\n");

    engine.RestartEngine();
    ASSERT_TRUE(WaitUntil([&] {
        PumpMessages(10ms);
        return platform::PathExists(InstFile(2, "result.orv"));
    }));
    // Nothing else to do: no restart loop on instance 1, whose work unit stays.
    PumpMessages(100ms);
    EXPECT_EQ(ClientStarts(1).size(), 1u);
    EXPECT_EQ(ClientStarts(2).size(), 1u);
    EXPECT_EQ(store.GetInstanceState(1), IS_WORK_UNIT);
    EXPECT_TRUE(slots.IsInstanceHeld(1));
    EXPECT_EQ(store.FindNextToProcess(), 0u);

    // Exit does not wait for the rest to end.
    engine.Shutdown();
    EXPECT_EQ(engine.RunnerCount(), 0u);
    EXPECT_FALSE(slots.IsInstanceHeld(1));
    EXPECT_EQ(dialog.Pending(), 0u);
}

class ShortRestTest : public RestingTest {
protected:
    ShortRestTest() : RestingTest(300ms) {}
};

TEST_F(ShortRestTest, AClientThatExitsAtOnceIsTriedAgainAboutOncePerHangCheck) {
    slots.Resize(2);
    MakeWorkUnit(1, kMorning);
    ScriptClient(1, "exit_now=1\n");

    const auto start = std::chrono::steady_clock::now();
    engine.RestartEngine();
    ASSERT_TRUE(WaitUntil([&] {
        PumpMessages(10ms);
        return ClientStarts(1).size() >= 3;
    }));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Each start but the first waits out a hang check; a tight loop would start hundreds.
    const auto rests = elapsed / ctx.timings.hangCheck;
    EXPECT_LE(ClientStarts(1).size(), static_cast<std::size_t>(rests) + 2);
    engine.Shutdown();
}

TEST_F(ProcessEngineTest, ARunnerEndsOnlyItsOwnClientNeverANewOneOfTheSameInstance) {
    slots.Resize(1);
    MakeWorkUnit(1, kMorning);
    ScriptClient(1, "run_ms=400\nstate_writes=1\n");
    engine.RestartEngine();
    ASSERT_TRUE(WaitUntil([&] { return ClientStarts(1).size() == 1; }));
    // Its first state write comes after it has read its script, which the stranger's replaces.
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(InstFile(1, "state.orv")); }));
    // A new client of the same instance (started from another slot after this runner's slot was
    // cut away) waits for the lock and then runs on.
    ScriptClient(1, "");
    platform::ProcessHandle stranger = StartTitled(FormatClientTitle(1), Inst(1));
    ASSERT_TRUE(stranger.IsValid());

    ASSERT_EQ(dialog.Take(20s), WM_APP);
    ASSERT_TRUE(WaitUntil([&] { return ClientStarts(1).size() == 2; }));
    EXPECT_TRUE(stranger.IsAlive());
    EXPECT_FALSE(stranger.WaitForExit(50ms));
    stranger.Terminate();
    EXPECT_TRUE(stranger.WaitForExit(10s));
    engine.Shutdown();
}

} // namespace
} // namespace vantrel::test
