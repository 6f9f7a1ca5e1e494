#include <gtest/gtest.h>

#include <deque>

#include "engine/clientcontrol.h"
#include "engine_fixture.h"

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

class ClientControlTest : public EngineTest {
protected:
    ClientControlTest() { UseTestClient(); }
    // The clients that must survive a kill run on; they end with the test.
    ~ClientControlTest() override {
        for (platform::ProcessHandle& client : m_clients) {
            client.Terminate();
            client.WaitForExit(10s);
        }
    }

    // A client under a title in a directory, kept until the test ends.
    platform::ProcessHandle& Start(const std::string& title, const std::string& directory) {
        platform::ProcessHandle& client = m_clients.emplace_back(StartTitled(title, directory));
        EXPECT_TRUE(client.IsValid());
        return client;
    }
    // A client of this program directory's instance n, as an earlier run would have left it.
    platform::ProcessHandle& StartClient(std::uint32_t n) {
        MakeInstance(n);
        return Start(FormatClientTitle(n), Inst(n));
    }

private:
    std::deque<platform::ProcessHandle> m_clients; // references stay valid as it grows
};

bool EndsSoon(platform::ProcessHandle& process) { return process.WaitForExit(10s); }

TEST_F(ClientControlTest, KillWithoutAClientReportsFalseAndLeavesTheSlots) {
    slots.Resize(2);
    ASSERT_EQ(slots.ClaimLowestFree(5).value_or(SlotClaim{9, 0}).slot, 0u);
    MakeInstance(5);

    EXPECT_FALSE(KillInstanceClients(ctx, 5));
    EXPECT_EQ(slots.Get(0), 5u);
    EXPECT_EQ(slots.Get(1), 0u);
}

TEST_F(ClientControlTest, KillEndsEveryClientOfTheInstanceAndNothingElse) {
    slots.Resize(3);
    slots.ClaimLowestFree(1);
    slots.ClaimLowestFree(2);
    slots.ClaimLowestFree(2); // a stale second entry is freed as well
    platform::ProcessHandle& first = StartClient(2);
    platform::ProcessHandle& second = StartClient(2);
    platform::ProcessHandle& neighbour = StartClient(1);
    platform::ProcessHandle& transmit = Start(FormatClientTitle(2) + " - Transmit", Inst(2));
    TempDir otherProgram;
    MakeDirs(otherProgram / "2");
    platform::ProcessHandle& foreign = Start(FormatClientTitle(2), otherProgram / "2");
    ASSERT_TRUE(WaitUntil([&] { return OpenInstanceClient(ctx, 2).size() == 2; }));

    EXPECT_TRUE(KillInstanceClients(ctx, 2));

    EXPECT_TRUE(EndsSoon(first));
    EXPECT_TRUE(EndsSoon(second));
    EXPECT_TRUE(OpenInstanceClient(ctx, 2).empty());
    EXPECT_EQ(slots.Get(0), 1u);
    EXPECT_EQ(slots.Get(1), 0u);
    EXPECT_EQ(slots.Get(2), 0u);
    EXPECT_TRUE(neighbour.IsAlive());
    EXPECT_TRUE(transmit.IsAlive()) << "a transmit client is never a processing client";
    EXPECT_TRUE(foreign.IsAlive()) << "another program directory's client is not ours";
    EXPECT_EQ(OpenInstanceClient(ctx, 1).size(), 1u);
}

TEST_F(ClientControlTest, LeftoverClientsOfTheCacheAreStoppedAtStartUp) {
    MakeInstance(2);
    platform::ProcessHandle& one = StartClient(1);
    platform::ProcessHandle& three = StartClient(3);
    // Beyond a gap at 4: a killed pass that was re-creating 4 leaves its neighbours running.
    platform::ProcessHandle& five = StartClient(5);
    platform::ProcessHandle& transmit = Start(FormatClientTitle(2) + " - Transmit", Inst(2));
    TempDir otherProgram;
    MakeDirs(otherProgram / "1");
    platform::ProcessHandle& foreign = Start(FormatClientTitle(1), otherProgram / "1");
    CRecordingHost host;
    CWatcher watcher(ctx);
    CProcessEngine engine(ctx, host, watcher);

    // A large cache costs no more walks through /proc than a small one.
    constexpr std::uint32_t kCache = 60;
    for (std::uint32_t n = 6; n <= kCache; ++n)
        MakeInstance(n);
    const std::uint64_t walks = platform::CountProcessListWalks();

    engine.KillLeftoverClients();

    // One walk finds the three, each kill ends its session in two at most, a last walk (or two on
    // a slow machine) sees them gone.
    EXPECT_LE(platform::CountProcessListWalks() - walks, 9u) << "a walk per instance";
    EXPECT_TRUE(EndsSoon(one));
    EXPECT_TRUE(EndsSoon(three));
    EXPECT_TRUE(EndsSoon(five)) << "a client beyond a gap in the cache was spared";
    EXPECT_TRUE(transmit.IsAlive());
    EXPECT_TRUE(foreign.IsAlive());
}

} // namespace
} // namespace vantrel::test
