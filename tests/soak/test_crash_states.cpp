// Start-up on states that a SIGKILL leaves behind at its most awkward moments, set up exactly:
// a transmit pass killed between deleting and re-creating an instance (a gap in the cache, with a
// processing client still running above it), and one killed while its client sent a result and
// fetched the next work unit, which the client finished alone.
#include <gtest/gtest.h>

#include <chrono>

#include "ledger.h"
#include "platform/fileops.h"
#include "programdir.h"

namespace vantrel::soak {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

const Environment kFetch = {{"ORVA_SIM_TRANSFER_SECONDS", "0"}};
const Environment kProgram = {{"VANTREL_TIME_SCALE", "0.01"},
                              {"ORVA_SIM_PROCESS_SECONDS", "1"},
                              {"ORVA_SIM_STATE_INTERVAL", "0.1"},
                              {"ORVA_SIM_TRANSFER_SECONDS", "0.05"}};

std::string NameOfWorkUnitIn(const CProgramDir& dir, unsigned n) {
    for (const auto& [number, places] : ReadCache(dir.Path()).places)
        for (const Place& place : places)
            if (place.where == std::to_string(n) + "/work_unit.orv")
                return place.name;
    return {};
}

bool Received(const CProgramDir& dir, const std::string& name) {
    for (const auto& [number, received] : ReadServer(dir.ServerDir()).names)
        if (received == name)
            return true;
    return false;
}

// Instances 1, 2, 4, 5 and 6 of a cache of six; 3 was being started afresh when the program died.
// 4's client still processes; 5 holds a result; 6 is empty.
TEST(CrashState, GapLeftByAKilledPassSparesNoClientAndIsClosed) {
    CProgramDir dir(0);
    for (unsigned n : {1u, 2u, 4u, 5u, 6u})
        test::MakeDirs(dir.InstancePath(n));
    for (unsigned n : {1u, 2u, 4u, 5u})
        ASSERT_EQ(dir.RunClient(n, "-stop_after_xfer", kFetch), 0);
    ASSERT_EQ(dir.RunClient(5, "-stop_after_process", {{"ORVA_SIM_PROCESS_SECONDS", "0.1"}}), 0);
    std::unique_ptr<e2e::CChild> leftover =
        dir.StartClient(4, "-stop_after_process", "ORVA 4", {{"ORVA_SIM_PROCESS_SECONDS", "60"}});
    ASSERT_TRUE(WaitUntil([&] { return dir.Progress(4) > 0.0; }, 20s));

    dir.WriteConfiguration("-auto -cpu 2 -ORVALog");
    std::unique_ptr<e2e::CChild> program = dir.Start(kProgram, "program");
    ASSERT_TRUE(program->Started());
    EXPECT_TRUE(leftover->WaitForExit(15s).has_value())
        << "the processing client left in instance 4, above the gap at 3, survived the start-up";
    // The result is sent by the pass that ends the start-up, so the cache has been put in order.
    ASSERT_TRUE(WaitUntil([&] { return !ReadServer(dir.ServerDir()).copies.empty(); }, 60s)) << "nothing was sent";
    // The desired size is counted up to the gap, so the instances above it are retired; that is
    // the cache's own rule for a gap, and nothing they hold is lost by it.
    CacheRecord shape;
    shape.directories = InstanceDirectories(dir.Path());
    EXPECT_TRUE(IsGapFree(shape)) << "the gap was not closed";

    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(*program, 60s), std::optional<int>(0));
    leftover.reset();
    ASSERT_TRUE(WaitUntil([&] { return dir.Clients().empty(); }, 60s));
    std::vector<std::string> lost = FindLostWork(ReadServer(dir.ServerDir()), ReadCache(dir.Path()));
    EXPECT_TRUE(lost.empty()) << Lines(lost);
}

// Instance 1 holds the work unit its transmit client fetched after the program died, and the log
// marker of the result that client sent before it.
TEST(CrashState, ResultOfAWorkUnitFetchedWhileTheProgramWasDeadIsLogged) {
    CProgramDir dir(2);
    for (unsigned n : {1u, 2u})
        ASSERT_EQ(dir.RunClient(n, "-stop_after_xfer", kFetch), 0);
    test::WriteFile(dir.InstancePath(1) + "/ORVALogUpdated.txt", "");
    const std::string fetchedLate = NameOfWorkUnitIn(dir, 1);
    const std::string fetchedBefore = NameOfWorkUnitIn(dir, 2);
    ASSERT_FALSE(fetchedLate.empty());

    dir.WriteConfiguration("-auto -cpu 2 -ORVALog");
    std::unique_ptr<e2e::CChild> program = dir.Start(kProgram, "program");
    ASSERT_TRUE(program->Started());
    ASSERT_TRUE(WaitUntil([&] { return Received(dir, fetchedLate) && Received(dir, fetchedBefore); }, 60s))
        << "the two work units were not processed and sent";
    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(*program, 60s), std::optional<int>(0));
    ASSERT_TRUE(WaitUntil([&] { return dir.Clients().empty(); }, 60s));

    LogRecord log = ReadLog(dir.Path() + "/ORVALog.csv");
    EXPECT_EQ(log.names[fetchedBefore], 1u);
    EXPECT_EQ(log.names[fetchedLate], 1u) << "the result of the work unit fetched while the program was dead was "
                                             "never logged: the stale ORVALogUpdated.txt passed it over";
    std::vector<std::string> gaps = FindLogGaps(ReadServer(dir.ServerDir()), ReadCache(dir.Path()), log);
    EXPECT_TRUE(gaps.empty()) << Lines(gaps);
}

} // namespace
} // namespace vantrel::soak
