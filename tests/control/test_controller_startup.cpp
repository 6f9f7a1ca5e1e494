#include "control/vantrelcontroller.h"
#include "control_fixture.h"
#include "platform/fileops.h"

#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

// A processing run that lasts for the whole test.
constexpr const char* kSlow = "ORVA_SIM_PROCESS_SECONDS=600\n";

std::string MarkerOf(const ControlScene& scene, unsigned n) {
    return scene.program.Instance(n) + "/stop_after_send.txt";
}

void AccountFile(const std::string& dir, int results, const std::string& from) {
    WriteFile(dir + "/user_info.orv", "NRESULTS=" + std::to_string(results) + "\nfrom=" + from + "\n");
}

void ExpectSameCounters(const CacheCounters& shown, const CacheCounters& expected) {
    EXPECT_EQ(shown.CurrentCacheSize, expected.CurrentCacheSize);
    EXPECT_EQ(shown.DesiredCacheSize, expected.DesiredCacheSize);
    EXPECT_EQ(shown.ProcessingCount, expected.ProcessingCount);
    EXPECT_EQ(shown.WaitingToProcess, expected.WaitingToProcess);
    EXPECT_EQ(shown.ReadyToTransmit, expected.ReadyToTransmit);
    EXPECT_EQ(shown.NeedToFill, expected.NeedToFill);
}

// The window shows the counters expected, which are what a count of the cache as it is now gives.
void ExpectCounters(const ControlScene& scene, const CacheCounters& expected) {
    const CacheCounters& shown = scene.Controller().Counters();
    ExpectSameCounters(shown, expected);
    ExpectSameCounters(shown, CountCacheState(scene.Store(), scene.session->RunningSlots()));
}

// Starts the copy and runs its thread until the client in instance 1 works and is counted.
bool StartWithFirstClient(ControlScene& scene) {
    return !scene.Start() && scene.PumpUntil([&] {
        return scene.Busy(1) && scene.Controller().Counters().ProcessingCount == 1;
    });
}

// Start-up compacts and marks the cache, and then shows it as it has become; the account file with
// the most results comes up from wherever compaction moved it.
TEST(ControllerStartUp, ShowsTheCacheAsCompactedAndMarkedAndTakesTheNewestAccountFile) {
    ControlScene scene({"-CPU", "1"});
    scene.WorkUnit(1, kSlow);
    AccountFile(scene.program.Instance(1), 5, "one");
    scene.program.MakeInstance(2); // empty: deleted, then made again within the desired size
    scene.Result(3);
    AccountFile(scene.program.Instance(3), 9, "three");
    scene.WorkUnit(4, kSlow); // retired, moved down to 2 and kept there within the desired size
    WriteFile(MarkerOf(scene, 4), "");
    AccountFile(scene.program.Instance(4), 12, "four");
    scene.program.MakeInstance(5); // retired and empty: deleted for good
    WriteFile(MarkerOf(scene, 5), "");
    AccountFile(scene.program.dir.Path(), 7, "program");

    ASSERT_TRUE(StartWithFirstClient(scene));

    EXPECT_FALSE(platform::PathExists(scene.program.Instance(4)));
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(5)));
    EXPECT_TRUE(platform::PathExists(scene.program.Instance(2) + "/work_unit.orv"));
    EXPECT_FALSE(platform::PathExists(MarkerOf(scene, 2)));
    ExpectCounters(scene, {.CurrentCacheSize = 3, .DesiredCacheSize = 3, .ProcessingCount = 1,
                           .WaitingToProcess = 1, .ReadyToTransmit = 1, .NeedToFill = 1});
    EXPECT_EQ(ReadFile(scene.program.dir / "user_info.orv"), "NRESULTS=12\nfrom=four\n");
}

// The marks move to the top of the cache, and are shown where they now are; with no account file
// counting more than the program directory's own, that one stays.
TEST(ControllerStartUp, ShowsTheMarksWhereItMovedThemAndKeepsTheProgramsAccountFileWhenNoneCountsMore) {
    ControlScene scene({"-CPU", "1"});
    scene.WorkUnit(1, kSlow);
    scene.WorkUnit(2);
    WriteFile(MarkerOf(scene, 2), "");
    scene.WorkUnit(3);
    scene.Result(4);
    AccountFile(scene.program.Instance(2), 7, "two");
    AccountFile(scene.program.dir.Path(), 7, "program");

    ASSERT_TRUE(StartWithFirstClient(scene));

    EXPECT_FALSE(platform::PathExists(MarkerOf(scene, 2)));
    EXPECT_TRUE(platform::PathExists(MarkerOf(scene, 4)));
    // The one to send retires its instance: nothing needs filling.
    ExpectCounters(scene, {.CurrentCacheSize = 4, .DesiredCacheSize = 3, .ProcessingCount = 1,
                           .WaitingToProcess = 2, .ReadyToTransmit = 1, .NeedToFill = 0});
    EXPECT_EQ(ReadFile(scene.program.dir / "user_info.orv"), "NRESULTS=7\nfrom=program\n");
}

// The restart that a client's start brings shows the last count; the end of a client is counted
// afresh, whatever came between.
TEST(ControllerStartUp, AClientsEndIsCountedAfreshAfterItsStartWasShown) {
    ControlScene scene({"-CPU", "1"});
    scene.WorkUnit(1, "ORVA_SIM_PROCESS_SECONDS=1\n");
    scene.WorkUnit(2, kSlow);
    ASSERT_FALSE(scene.Start());
    CVantrelController& c = scene.Controller();
    // The first client's result is counted once its runner says it has ended, and the next client
    // is taken up.
    ASSERT_TRUE(scene.PumpUntil([&] { return c.Counters().ReadyToTransmit == 1 && scene.Busy(2); }));
    ASSERT_TRUE(scene.PumpUntil([&] { return c.Counters().ProcessingCount == 1; }));
    ExpectCounters(scene, {.CurrentCacheSize = 2, .DesiredCacheSize = 2, .ProcessingCount = 1,
                           .WaitingToProcess = 0, .ReadyToTransmit = 1, .NeedToFill = 1});
}

} // namespace
} // namespace vantrel::test
