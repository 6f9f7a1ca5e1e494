// The real program in a program directory that others share: special files where it reads and
// copies, and clients that work in their instances before they hold their lock. It starts, keeps
// every client where it works, and ends within seconds of `vantrel --post 16`.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/filelock.h"
#include "platform/fileops.h"
#include "programdir.h"

namespace vantrel::soak {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

// The hang check 30 s, far beyond the moments these tests look at.
const Environment kDurations = {{"VANTREL_TIME_SCALE", "0.1"},
                                {"ORVA_SIM_PROCESS_SECONDS", "120"},
                                {"ORVA_SIM_STATE_INTERVAL", "0.2"},
                                {"ORVA_SIM_TRANSFER_SECONDS", "0.05"}};

// Exit within seconds, and no processing client left behind.
void ExpectPromptExit(const CProgramDir& dir, e2e::CChild& program) {
    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(program, 10s), std::optional<int>(0)) << "the program did not end after `--post 16`";
    EXPECT_TRUE(WaitUntil([&] { return PidsWith(dir.Clients(), IsProcessingTitle).empty(); }, 10s))
        << "a processing client outlived the program";
}

TEST(HostileProgramDir, SpecialFilesNeverHangStartUpOrTheSpyCopies) {
    CProgramDir dir(2);
    dir.WriteConfiguration("-cpu 1 -verbose -spy");
    ASSERT_EQ(dir.RunClient(1, "-stop_after_xfer", {}), 0);
    // Instance 1 has no account file of its own, so its runner looks for one in the others, where
    // there is only a FIFO; its client's output file is a FIFO too.
    ASSERT_TRUE(platform::DeleteFile(dir.InstancePath(1) + "/user_info.orv"));
    // Instance 2 holds a result (never sent: no pass runs), so it is no empty instance to delete.
    test::WriteFile(dir.InstancePath(2) + "/result.orv", "");
    const std::vector<std::string> fifos = {dir.InstancePath(2) + "/user_info.orv",
                                            dir.InstancePath(1) + "/outfile.orv"};
    for (const std::string& fifo : fifos)
        if (!MakeFifo(fifo))
            GTEST_SKIP() << "no FIFO could be made at " << fifo << " (Windows has no special files of this kind)";

    std::unique_ptr<e2e::CChild> program = dir.Start(kDurations, "fifos");
    ASSERT_TRUE(program->Started());
    // The client fails at its first write to the FIFO and ends within a fraction of a second, which
    // a look for running clients can miss on a busy machine: its own record of the run tells.
    EXPECT_TRUE(WaitUntil(
        [&] {
            const std::vector<ClientRun> runs = ReadRuns(dir);
            return std::any_of(runs.begin(), runs.end(),
                               [](const ClientRun& run) { return run.run == "process" && run.title == "ORVA 1"; });
        },
        60s))
        << "no client started: the runner is stuck on the FIFO";
    EXPECT_TRUE(WaitUntil([&] { return platform::PathExists(dir.Path() + "/work_unit.orv"); }, 60s))
        << "the spy copies were never made";
    ExpectPromptExit(dir, *program);
    for (const std::string& fifo : fifos)
        EXPECT_TRUE(IsFifo(fifo)) << fifo << " was replaced or removed";
}

TEST(HostileProgramDir, CompactionLeavesClientsThatHaveNotLockedYetWhereTheyWork) {
    CProgramDir dir(3);
    dir.WriteConfiguration("-cpu 1");
    ASSERT_EQ(dir.RunClient(2, "-stop_after_xfer", {}), 0);
    // Instance 2's client takes its time to start, working there without lock.orv.
    test::WriteFile(dir.InstancePath(2) + "/orva_sim_knobs.txt", "ORVA_SIM_START_SECONDS=120\n");
    // Instance 1 is empty and goes at the first compaction; the sentinel tells when it went.
    test::WriteFile(dir.InstancePath(1) + "/sentinel", "");
    // A transmit client left by an earlier run, still starting in the empty instance 3.
    std::unique_ptr<e2e::CChild> leftover =
        dir.StartClient(3, "-stop_after_xfer", "ORVA 3 - Transmit", {{"ORVA_SIM_START_SECONDS", "120"}});
    ASSERT_TRUE(WaitUntil([&] { return ClientTitled(dir, "ORVA 3 - Transmit") != 0; }, 30s));

    std::unique_ptr<e2e::CChild> program = dir.Start(kDurations, "slow-start");
    ASSERT_TRUE(program->Started());
    // The runner claims its instance while the start-up goes on. Claimed first, instance 2 keeps its
    // number and the client its directory; compacted first, the work unit has moved down to 1 before
    // any client started there. Either way the client must be where its work unit is.
    unsigned worker = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (unsigned n : {1u, 2u})
                if (ClientTitled(dir, "ORVA " + std::to_string(n)) != 0)
                    worker = n;
            return worker != 0 && !platform::PathExists(dir.InstancePath(1) + "/sentinel") &&
                   platform::IsDirectory(dir.InstancePath(1));
        },
        60s))
        << "the start-up compaction did not happen, or no client started (worker " << worker << ")";
    // Neither client has taken its lock yet: only its slot or its working directory protects it.
    for (unsigned n : {worker, 3u}) {
        const std::string lock = dir.InstancePath(n) + "/lock.orv";
        EXPECT_FALSE(platform::PathExists(lock) && platform::IsFileLockedByOther(lock)) << n;
    }

    EXPECT_TRUE(WorksIn(dir, ClientTitled(dir, "ORVA " + std::to_string(worker)), dir.InstancePath(worker)));
    EXPECT_TRUE(platform::PathExists(dir.InstancePath(worker) + "/work_unit.orv"));
    EXPECT_TRUE(platform::PathExists(dir.InstancePath(worker) + "/orva_sim_knobs.txt"));
    EXPECT_TRUE(WorksIn(dir, ClientTitled(dir, "ORVA 3 - Transmit"), dir.InstancePath(3)));
    EXPECT_TRUE(platform::IsDirectory(dir.InstancePath(3)));
    ExpectPromptExit(dir, *program);
}

} // namespace
} // namespace vantrel::soak
