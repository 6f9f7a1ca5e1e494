// The real program's clients seen from outside (/proc, sched_getaffinity), as root and as an
// ordinary user without any right to raise a priority: the watched client keeps the priority the
// user chose and the others run idle, each slot's client runs on its own processor, and what a
// client started is gone within seconds of `vantrel --post 16`.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/process_detail_linux.h"
#include "programdir.h"

namespace vantrel::soak {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

constexpr uid_t kNobody = 65534;

// Clients that process for a minute, each leaving a child behind that leaves the instance
// directory and drops its title (in instance 1 of the run as root, one that also leaves the
// client's session).
const Environment kClients = {{"VANTREL_TIME_SCALE", "0.01"},
                              {"ORVA_SIM_PROCESS_SECONDS", "60"},
                              {"ORVA_SIM_STATE_INTERVAL", "0.1"},
                              {"ORVA_SIM_TRANSFER_SECONDS", "0.01"},
                              {"ORVA_SIM_GRANDCHILD", "1"}};

// Scheduling policy and nice value of a process, as ps shows them.
struct Priority {
    int policy = -1;
    int nice = 0;
    bool operator==(const Priority&) const = default;
};

Priority PriorityOf(pid_t pid) {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
    return {sched_getscheduler(pid) & ~SCHED_RESET_ON_FORK, errno == 0 ? nice : 99};
}

class ClientsSeenFromOutside : public ::testing::TestWithParam<bool> {};

TEST_P(ClientsSeenFromOutside, PriorityProcessorsAndEverythingAClientStartedFollowTheDialog) {
    const bool ordinaryUser = GetParam();
    CProgramDir dir(3);
    // Work units in 1, 2 and 3, the oldest in 1: slot 0 runs 1 (watched), slot 1 runs 2.
    for (unsigned n = 1; n <= 3; ++n) {
        ASSERT_EQ(dir.RunClient(n, "-stop_after_xfer", {{"ORVA_SIM_TRANSFER_SECONDS", "0.01"}}), 0);
        const std::string unit = dir.InstancePath(n) + "/work_unit.orv";
        utimbuf times{1'000'000'000 + n * 60, 1'000'000'000 + n * 60};
        ASSERT_EQ(utime(unit.c_str(), &times), 0);
    }
    dir.WriteConfiguration("-cpu 2\r\n-runnormal\r\n-affinity");
    if (!ordinaryUser)
        platform::WriteFileAtomically(dir.InstancePath(1) + "/orva_sim_knobs.txt", "ORVA_SIM_GRANDCHILD_SESSION=1\n");
    if (ordinaryUser && !dir.RunAs(kNobody, kNobody))
        GTEST_SKIP() << "running as another user needs root and setpriv";

    std::unique_ptr<e2e::CChild> program = dir.Start(kClients, ordinaryUser ? "nobody" : "root");
    ASSERT_TRUE(program->Started());
    pid_t watched = 0;
    pid_t other = 0;
    ASSERT_TRUE(WaitForBoth(dir, ClientOf, watched, other, [](pid_t pid) { return PriorityOf(pid).policy == SCHED_IDLE; }));
    // "Normal": the watched client at normal priority, never lowered on the way; the other idle.
    EXPECT_EQ(PriorityOf(watched), (Priority{SCHED_OTHER, 0}));
    EXPECT_EQ(PriorityOf(other).policy, SCHED_IDLE);

    // "Set Processor Affinity": slot k on the k-th processor this program may use.
    EXPECT_TRUE(EachOnItsSlotsProcessor({watched, other}));

    // Each client left a child outside its directory and without its title; all go with Exit.
    pid_t left1 = 0;
    pid_t left2 = 0;
    ASSERT_TRUE(WaitForBoth(dir, GrandchildOf, left1, left2, IsAlive));
    // Only a cgroup of the client's own holds a child that left its session.
    const bool grouped = !platform::detail::ClientGroupOf(left1).empty();
    EXPECT_EQ(getsid(left1) == left1, !ordinaryUser);
    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(*program, 30s), std::optional<int>(0));
    EXPECT_TRUE(WaitUntil([&] { return !IsAlive(left2); }, 10s)) << "a client's child outlived Exit";
    EXPECT_TRUE(WaitUntil([&] { return dir.Clients().empty(); }, 10s));
    if (!ordinaryUser && !grouped) {
        kill(left1, SIGKILL);
        GTEST_SKIP() << "no cgroup could be made for the clients (no cgroup2 hierarchy this user may write): "
                        "a child that left its client's session outlives Exit";
    }
    EXPECT_TRUE(WaitUntil([&] { return !IsAlive(left1); }, 10s)) << "a client's child outlived Exit";
}

TEST(ClientsOfAnOrdinaryUser, HighThatCannotBeGrantedLeavesTheWatchedClientAtNormalAndIsSaidOnce) {
    CProgramDir dir(2);
    for (unsigned n = 1; n <= 2; ++n)
        ASSERT_EQ(dir.RunClient(n, "-stop_after_xfer", {{"ORVA_SIM_TRANSFER_SECONDS", "0.01"}}), 0);
    dir.WriteConfiguration("-cpu 1\r\n-runhigh");
    if (!dir.RunAs(kNobody, kNobody))
        GTEST_SKIP() << "running as another user needs root and setpriv";
    Environment clients = kClients;
    clients.erase("ORVA_SIM_GRANDCHILD");
    std::unique_ptr<e2e::CChild> program = dir.Start(clients, "nobody-high");
    pid_t watched = 0;
    ASSERT_TRUE(WaitUntil([&] { return (watched = ClientOf(dir, 1)) != 0 || (watched = ClientOf(dir, 2)) != 0; }, 60s));
    const std::string notice = "raise the watched client's priority";
    auto said = [&] {
        std::string log = platform::ReadFileText(dir.LogPath("nobody-high")).value_or("");
        std::size_t first = log.find(notice);
        return first == std::string::npos ? 0 : (log.find(notice, first + 1) == std::string::npos ? 1 : 2);
    };
    EXPECT_TRUE(WaitUntil([&] { return said() > 0; }, 20s));
    EXPECT_EQ(PriorityOf(watched), (Priority{SCHED_OTHER, 0})) << "not lowered on the way to High";
    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(*program, 30s), std::optional<int>(0));
    EXPECT_EQ(said(), 1);
}

INSTANTIATE_TEST_SUITE_P(AsRootAndAsAnOrdinaryUser, ClientsSeenFromOutside, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& run) {
                             return std::string(run.param ? "Nobody" : "Root");
                         });

} // namespace
} // namespace vantrel::soak
