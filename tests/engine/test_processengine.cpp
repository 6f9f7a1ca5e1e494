#include <gtest/gtest.h>

#include <bit>

#include "engine/processengine.h"
#include "engine_fixture.h"
#include "platform/fileops.h"
#include "platform/wait.h"

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

constexpr long long kTen = 1714557600;  // 10:00
constexpr long long kTenFive = kTen + 300; // 10:05

std::vector<std::uint32_t> SlotEntries(const CRunningSlots& slots) {
    std::vector<std::uint32_t> entries;
    for (std::size_t k = 0; k < slots.Size(); ++k)
        entries.push_back(slots.Get(k));
    return entries;
}

using Slots = std::vector<std::uint32_t>;

TEST_F(ProcessEngineTest, OldestWorkUnitsGoFirstIntoTheLowestSlots) {
    slots.Resize(2);
    MakeWorkUnit(3, kTen);
    MakeWorkUnit(1, kTenFive);
    MakeWorkUnit(2, kTenFive);

    engine.RestartEngine();

    EXPECT_EQ(SlotEntries(slots), (Slots{3, 1}));
    // Each client runs when the restart returns; it records its start a moment later.
    EXPECT_TRUE(WaitUntil([&] { return ClientStarts(3).size() == 1u && ClientStarts(1).size() == 1u; }));
    EXPECT_FALSE(platform::PathExists(InstFile(2, "client_starts.txt"))) << "instance 2 waits";
    EXPECT_EQ(ctx.WatchedInstance.load(), 3u);
    EXPECT_EQ(engine.ChooseWatchedInstance(), 3u);
    EXPECT_EQ(host.refreshed.load(), 1);
    EXPECT_EQ(host.shown.load(), 1);
    EXPECT_EQ(dialog.Pending(), 0u);
}

TEST_F(ProcessEngineTest, WithoutWorkEveryRunnerEndsAtOnceAndNothingIsPosted) {
    slots.Resize(3);
    MakeInstance(1, {"result.orv"});
    MakeInstance(2);

    engine.RestartEngine();
    engine.Shutdown(); // joins every runner, so any post would be in the queue now

    EXPECT_EQ(SlotEntries(slots), (Slots{0, 0, 0}));
    EXPECT_EQ(ctx.WatchedInstance.load(), 0u);
    EXPECT_EQ(dialog.Pending(), 0u);
    EXPECT_EQ(host.refreshed.load(), 1);
}

TEST_F(ProcessEngineTest, FinishedRunnersAreJoinedAtTheNextRestart) {
    slots.Resize(2);
    for (int i = 0; i < 20; ++i)
        engine.RestartEngine();
    // 40 runners were started; those that had not finished by a later restart are few.
    EXPECT_LE(engine.RunnerCount(), 10u);
    engine.Shutdown();
    EXPECT_EQ(engine.RunnerCount(), 0u);
}

TEST_F(ProcessEngineTest, EachEndedClientRestartsProcessingWithTheNextWorkUnit) {
    slots.Resize(1);
    MakeWorkUnit(1, kTen + 20);
    MakeWorkUnit(2, kTen);
    MakeWorkUnit(3, kTen + 10);
    for (std::uint32_t n = 1; n <= 3; ++n)
        ScriptClient(n, "run_ms=30\nstate_writes=1\n");

    engine.RestartEngine();
    int posted = 0;
    ASSERT_TRUE(WaitUntil([&] {
        posted += PumpMessages(10ms);
        return posted == 3;
    }));

    EXPECT_EQ(ClientOrder(), (std::vector<std::string>{"2", "3", "1"}));
    for (std::uint32_t n = 1; n <= 3; ++n) {
        EXPECT_TRUE(platform::PathExists(InstFile(n, "result.orv")));
        EXPECT_FALSE(platform::PathExists(InstFile(n, "work_unit.orv")));
        EXPECT_EQ(ClientStarts(n).size(), 1u) << "instance " << n;
    }
    EXPECT_EQ(slots.Get(0), 0u);
    EXPECT_EQ(ctx.WatchedInstance.load(), 0u);
    engine.Shutdown();
    EXPECT_EQ(CountZombieChildren(), 0);
}

TEST_F(ProcessEngineTest, LoweringTheSlotCountKillsTheTopSlotsInOrder) {
    ctx.timings.killPause = 100ms;
    slots.Resize(3);
    MakeWorkUnit(1, kTen);
    MakeWorkUnit(2, kTen + 1);
    MakeWorkUnit(3, kTen + 2);
    engine.RestartEngine();
    ASSERT_EQ(SlotEntries(slots), (Slots{1, 2, 3}));
    auto top = Clients(3);
    auto middle = Clients(2);
    auto bottom = Clients(1);
    ASSERT_EQ(top.size(), 1u);
    ASSERT_EQ(middle.size(), 1u);
    ASSERT_EQ(bottom.size(), 1u);

    // Which of the two ends first, seen from another thread while the dialog's thread kills them.
    int firstToEnd = platform::kWaitFailed;
    bool otherStillRan = false;
    std::thread observer([&] {
        firstToEnd = platform::WaitForAny({top[0].ExitHandle(), middle[0].ExitHandle()}, 20s);
        platform::WaitHandle other = firstToEnd == 0 ? middle[0].ExitHandle() : top[0].ExitHandle();
        otherStillRan = platform::WaitForAny({other}, 0ms) == platform::kWaitTimeout;
    });
    engine.ResizeSlots(1);
    observer.join();

    EXPECT_EQ(firstToEnd, 0) << "slot 2's client goes first";
    EXPECT_TRUE(otherStillRan) << "then, after the kill pause, slot 1's";
    EXPECT_FALSE(middle[0].IsAlive());
    EXPECT_TRUE(bottom[0].IsAlive());
    EXPECT_EQ(SlotEntries(slots), (Slots{1}));
    // Their runners end and report; their slots are gone, so they free nothing.
    ASSERT_EQ(dialog.Take(20s), WM_APP);
    ASSERT_EQ(dialog.Take(20s), WM_APP);
    EXPECT_EQ(SlotEntries(slots), (Slots{1}));

    // Raising appends free slots, which the next restart fills again.
    engine.ResizeSlots(3);
    EXPECT_EQ(SlotEntries(slots), (Slots{1, 0, 0}));
    engine.RestartEngine();
    EXPECT_EQ(SlotEntries(slots), (Slots{1, 2, 3}));

    engine.ResizeSlots(0);
    EXPECT_EQ(slots.Size(), 0u);
    EXPECT_FALSE(bottom[0].IsAlive());
    engine.ResizeSlots(CRunningSlots::kCapacity + 5);
    EXPECT_EQ(slots.Size(), CRunningSlots::kCapacity);
}

class PriorityTest : public ProcessEngineTest {
protected:
    // Whether this user may take a process back up from idle priority.
    bool CanRaisePriority() {
        MakeDirs(dir / "probe");
        platform::ProcessHandle probe = StartTitled("probe", dir / "probe");
        platform::SetPriorityClass(probe, platform::IDLE_PRIORITY_CLASS);
        platform::SetPriorityClass(probe, platform::NORMAL_PRIORITY_CLASS);
        bool raised = platform::GetPriorityClass(probe.Pid()) == platform::NORMAL_PRIORITY_CLASS;
        probe.Terminate();
        probe.WaitForExit();
        return raised;
    }
};

TEST_F(PriorityTest, AfterARestartOnlyTheWatchedClientRunsAboveIdle) {
    if (!CanRaisePriority())
        GTEST_SKIP() << "this user may not raise a process from idle priority";
    slots.Resize(2);
    MakeWorkUnit(1, kTenFive);
    MakeWorkUnit(2, kTen);
    options.ClientPriority = CP_NORMAL;

    engine.RestartEngine();

    ASSERT_EQ(SlotEntries(slots), (Slots{2, 1}));
    ASSERT_EQ(ctx.WatchedInstance.load(), 2u);
    auto watched = Clients(2);
    auto other = Clients(1);
    ASSERT_EQ(watched.size(), 1u);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(platform::GetPriorityClass(watched[0].Pid()), platform::NORMAL_PRIORITY_CLASS);
    EXPECT_EQ(platform::GetPriorityClass(other[0].Pid()), platform::IDLE_PRIORITY_CLASS)
        << "a client started by this very restart is lowered too";

    options.ClientPriority = CP_HIGH;
    engine.ApplyClientPriority();
    EXPECT_EQ(platform::GetPriorityClass(watched[0].Pid()), platform::HIGH_PRIORITY_CLASS);
    EXPECT_EQ(platform::GetPriorityClass(other[0].Pid()), platform::IDLE_PRIORITY_CLASS);

    // The watched client ends: the next restart watches the other one and raises it.
    options.ClientPriority = CP_NORMAL;
    KillInstanceClients(ctx, 2);
    std::filesystem::remove(InstFile(2, "work_unit.orv"));
    ASSERT_EQ(dialog.Take(20s), WM_APP);
    engine.RestartEngine();
    EXPECT_EQ(ctx.WatchedInstance.load(), 1u);
    EXPECT_EQ(platform::GetPriorityClass(other[0].Pid()), platform::NORMAL_PRIORITY_CLASS);

    options.ClientPriority = CP_LOW;
    engine.ApplyClientPriority();
    EXPECT_EQ(platform::GetPriorityClass(other[0].Pid()), platform::IDLE_PRIORITY_CLASS);
}

TEST(SlotAffinityTest, SlotKTakesTheKthProcessorOfTheProgramsOwnSet) {
    using P = std::vector<unsigned>;
    EXPECT_EQ(SlotProcessors(0, {0, 1}), P{0});
    EXPECT_EQ(SlotProcessors(1, {0, 1}), P{1});
    // A slot with no processor of its own shares the whole set rather than doubling up on one.
    EXPECT_EQ(SlotProcessors(2, {0, 1}), (P{0, 1}));
    EXPECT_EQ(SlotProcessors(5, {0, 1}), (P{0, 1}));
    // Allowed processors 2 and 3 only (a container, taskset): slot 0 gets 2, slot 1 gets 3.
    EXPECT_EQ(SlotProcessors(0, {2, 3}), P{2});
    EXPECT_EQ(SlotProcessors(1, {2, 3}), P{3});
    // Any processor count: beyond 64 and beyond 1024.
    P many(2000);
    for (unsigned cpu = 0; cpu < many.size(); ++cpu)
        many[cpu] = cpu * 2;
    EXPECT_EQ(SlotProcessors(70, many), P{140});
    EXPECT_EQ(SlotProcessors(1999, many), P{3998});
    EXPECT_EQ(SlotProcessors(2000, many), many);
    EXPECT_EQ(SlotProcessors(3, {}), P{});
}

TEST_F(ProcessEngineTest, EachSlotsClientIsPinnedByItsSlotIndex) {
    const std::vector<unsigned> system = platform::GetOwnProcessors();
    if (system.size() < 2)
        GTEST_SKIP() << "one processor: every mask is the same";
    options.SetAffinity = true;
    slots.Resize(3);
    for (std::uint32_t n = 1; n <= 3; ++n)
        MakeWorkUnit(n, kTen + n);

    engine.RestartEngine();

    ASSERT_EQ(SlotEntries(slots), (Slots{1, 2, 3}));
    std::vector<platform::ProcessId> pids;
    for (std::uint32_t n = 1; n <= 3; ++n) {
        auto clients = Clients(n);
        ASSERT_EQ(clients.size(), 1u);
        pids.push_back(clients[0].Pid());
    }
    // With two processors slot 2 has none of its own and gets both.
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_EQ(platform::GetProcessorsOf(pids[k]), k < system.size() ? std::vector<unsigned>{system[k]} : system)
            << "slot " << k;

    options.SetAffinity = false;
    engine.ApplyAffinity();
    for (platform::ProcessId pid : pids)
        EXPECT_EQ(platform::GetProcessorsOf(pid), system);
}

// A dialog that calls back: a restart starts one runner and never waits for it or its client, the
// dialog's call starts the next, a runner that finds nothing ends the fill unless a restart was
// asked for since, and the restart each started client brings gives it its priority and
// processor, inside a terminal as well.
class CallingBackFillTest : public ProcessEngineTest {
protected:
    // The client itself among instance n's processes (a terminal or console host carries its
    // title too): the one whose id the client wrote at its start.
    platform::ProcessId ClientPid(std::uint32_t n) {
        auto starts = ClientStarts(n);
        if (starts.empty() || starts.back().empty())
            return 0;
        for (const platform::ProcessHandle& found : Clients(n))
            if (std::to_string(found.Pid()) == starts.back()[0])
                return found.Pid();
        return 0;
    }

    void FillAndCheckControls(std::uint16_t showCommand) {
        const std::vector<unsigned> system = platform::GetOwnProcessors();
        host.callsBack = true;
        options.ClientShowMode = showCommand;
        options.ClientPriority = CP_NORMAL;
        options.SetAffinity = true;
        slots.Resize(3);
        MakeWorkUnit(1, kTen);
        MakeWorkUnit(2, kTenFive);
        MakeInstance(3); // nothing to process

        {
            // The runner cannot claim while the test holds the instances: neither the restart nor
            // the dialog's call waits for it; the next call looks again.
            auto hold = ctx.store.LockInstances();
            engine.RestartEngine();
            ASSERT_TRUE(host.due.has_value()) << "the next start is left to the dialog's call";
            host.due.reset();
            engine.ContinueFill();
            EXPECT_TRUE(host.due.has_value());
            EXPECT_EQ(SlotEntries(slots), (Slots{0, 0, 0}));
            EXPECT_EQ(engine.RunnerCount(), 1u);
        }
        auto pinned = [&](platform::ProcessId pid, std::size_t k) {
            return system.size() < 2 || platform::GetProcessorsOf(pid) == std::vector<unsigned>{system[k]};
        };
        platform::ProcessId watched = 0;
        platform::ProcessId other = 0;
        ASSERT_TRUE(PumpUntil([&] {
            watched = ClientPid(1);
            other = ClientPid(2);
            return watched != 0 && other != 0 && platform::GetPriorityClass(other) == platform::IDLE_PRIORITY_CLASS &&
                   pinned(watched, 0) && pinned(other, 1);
        })) << "every client gets its controls";
        EXPECT_NE(platform::GetPriorityClass(watched), platform::IDLE_PRIORITY_CLASS) << "never lowered";
        // The third runner found nothing: the fill ends with no call left and slot 2 free.
        ASSERT_TRUE(PumpUntil([&] { return !host.due && dialog.Pending() == 0; }));
        EXPECT_EQ(SlotEntries(slots), (Slots{1, 2, 0}));
        EXPECT_EQ(ctx.WatchedInstance.load(), 1u);
        engine.Shutdown();
        EXPECT_TRUE(WaitUntil([&] { return Clients(1).empty() && Clients(2).empty(); })) << "exit ends every client";
    }
};

TEST_F(CallingBackFillTest, HiddenClients) {
    FillAndCheckControls(platform::SW_HIDE);
}

TEST_F(CallingBackFillTest, ClientsInsideTerminals) {
    if (std::string tool = CTestDisplay::MissingTool(); !tool.empty())
        GTEST_SKIP() << tool << " is not installed";
    CTestDisplay display;
    ASSERT_TRUE(display.IsReady());
    FillAndCheckControls(platform::SW_SHOWNORMAL);
}

TEST_F(ProcessEngineTest, WatchedInstanceIsTheBusyOneWithTheOldestWorkUnit) {
    const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    slots.Resize(5);
    EXPECT_EQ(engine.ChooseWatchedInstance(), 0u);

    MakeWorkUnit(4, now + 2 * 86400); // stamped days ahead: never chosen
    MakeWorkUnit(5, kTen);
    MakeWorkUnit(6, kTen);
    MakeInstance(7);                  // no work unit to examine
    MakeWorkUnit(8, kTen - 60);       // oldest, but in no slot
    for (std::uint32_t n : {4u, 7u, 6u, 5u})
        slots.ClaimLowestFree(n);
    EXPECT_EQ(engine.ChooseWatchedInstance(), 6u) << "a tie goes to the lower slot, not the lower number";

    slots.FreeAllOf(6);
    slots.FreeAllOf(5);
    EXPECT_EQ(engine.ChooseWatchedInstance(), 0u);

    MakeWorkUnit(9, now + 3600); // ahead, but less than a day
    slots.ClaimLowestFree(9);
    EXPECT_EQ(engine.ChooseWatchedInstance(), 9u);
}

TEST_F(ProcessEngineTest, RestartCopiesTheWatchedFilesAndWatchesOnlyABusyInstance) {
    options.UseSpy = true;
    slots.Resize(1);
    MakeInstance(1, {"result.orv"});

    engine.RestartEngine();
    EXPECT_FALSE(watcher.IsRunning()) << "nothing is watched while no slot is busy";

    MakeWorkUnit(2, kTen);
    engine.RestartEngine();

    ASSERT_EQ(ctx.WatchedInstance.load(), 2u);
    EXPECT_EQ(ReadFile(dir / "work_unit.orv"), "name=wu2\n");
    EXPECT_TRUE(watcher.IsRunning());
    EXPECT_EQ(dialog.Take(20s), WM_APP_4);
}

// The runners wait in their hour-long hang check: shutdown must wake them, not wait it out.
TEST_F(ProcessEngineTest, ShutdownKillsEveryClientJoinsEveryRunnerAndLeavesNoZombie) {
    slots.Resize(3);
    MakeWorkUnit(1, kTen);
    MakeWorkUnit(2, kTen + 1);
    MakeWorkUnit(3, kTen + 2);
    engine.RestartEngine();
    ASSERT_EQ(SlotEntries(slots), (Slots{1, 2, 3}));
    std::vector<platform::ProcessHandle> clients;
    for (std::uint32_t n = 1; n <= 3; ++n)
        for (auto& client : Clients(n))
            clients.push_back(std::move(client));
    ASSERT_EQ(clients.size(), 3u);
    // A client found running may not have recorded its start yet; one ended before that leaves
    // nothing to count below.
    for (std::uint32_t n = 1; n <= 3; ++n)
        ASSERT_TRUE(WaitUntil([&] { return ClientStarts(n).size() == 1; })) << n;
    const std::uint64_t walks = platform::CountProcessListWalks();

    engine.Shutdown();

    // Each runner ends its client's session in two walks through /proc at most (one kills, one
    // finds nothing new); a last look for clients of the slots is one walk for all of them.
    EXPECT_LE(platform::CountProcessListWalks() - walks, 7u);
    for (auto& client : clients)
        EXPECT_FALSE(client.IsAlive());
    EXPECT_EQ(engine.RunnerCount(), 0u);
    EXPECT_EQ(SlotEntries(slots), (Slots{0, 0, 0}));
    EXPECT_EQ(dialog.Pending(), 0u) << "no runner reports after shutdown";
    EXPECT_EQ(CountZombieChildren(), 0);

    // A message that arrives late restarts nothing, and a second shutdown is harmless.
    engine.RestartEngine();
    engine.Shutdown();
    EXPECT_EQ(SlotEntries(slots), (Slots{0, 0, 0}));
    EXPECT_EQ(ClientStarts(1).size(), 1u);
}

} // namespace
} // namespace vantrel::test
