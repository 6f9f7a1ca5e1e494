#include "simfixture.h"

#include <algorithm>
#include <cstdlib>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

// The keys of the log's columns that a result carries: the work unit's header and the figures.
// clang-format off
const char* const kResultKeys[] = {
    "task", "version", "name", "data_type", "data_class", "splitter_version", "start_ra", "start_dec", "end_ra",
    "end_dec", "angle_range", "time_recorded", "subband_center", "subband_base", "subband_sample_rate", "fft_len",
    "ifft_len", "subband_number", "receiver", "nsamples", "tape_version", "ncfft", "cr", "fl", "prog", "bs_power",
    "bs_score", "bs_bin", "bs_fft_ind", "bs_chirp_rate", "bs_fft_len", "bg_score", "bg_power", "bg_chisq", "bg_bin",
    "bg_fft_ind", "bg_chirp_rate", "bg_fft_len", "bg_pot", "bp_score", "bp_power", "bp_mean", "bp_period",
    "bp_freq_bin", "bp_time_bin", "bp_chirp_rate", "bp_fft_len", "bp_pot", "bt_score", "bt_power", "bt_mean",
    "bt_period", "bt_bperiod", "bt_tpotind0_0", "bt_tpotind0_1", "bt_tpotind1_0", "bt_tpotind1_1", "bt_tpotind2_0",
    "bt_tpotind2_1", "bt_freq_bin", "bt_time_bin", "bt_chirp_rate", "bt_scale", "bt_fft_len", "bt_pot", "cpu_time"};
// clang-format on

double Number(const std::optional<std::string>& value) {
    return value ? std::strtod(value->c_str(), nullptr) : -1.0;
}

class ProcessingTest : public SimTest {
protected:
    // An instance holding a work unit fetched by the client itself.
    std::string InstanceWithWorkUnit(int n) {
        std::string dir = Instance(n);
        EXPECT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
        EXPECT_TRUE(Exists(dir + "/work_unit.orv"));
        return dir;
    }
};

TEST_F(ProcessingTest, WritesStateWhileHoldingTheLockAndEndsWithACompleteResult) {
    std::string dir = InstanceWithWorkUnit(1);
    std::string workUnit = ReadFile(dir + "/work_unit.orv");
    auto child = Start(dir, {"-stop_after_process"}, {"ORVA_SIM_PROCESS_SECONDS=1.5"});
    ASSERT_TRUE(WaitUntil([&] { return Exists(dir + "/state.orv"); }));

    // Every read sees a whole state file, and the fraction only grows.
    double lastProg = 0.0;
    int reads = 0;
    bool lockedEveryTime = true;
    while (!Exists(dir + "/result.orv") && !WaitForEnd(*child, 0s)) {
        std::string state = ReadFile(dir + "/state.orv");
        if (state.empty() || Exists(dir + "/result.orv"))
            continue;
        ++reads;
        double prog = Number(ValueOf(state, "prog"));
        ASSERT_TRUE(ValueOf(state, "cpu")) << state;
        ASSERT_TRUE(ValueOf(state, "ncfft")) << state;
        EXPECT_EQ(state.back(), '\n');
        EXPECT_GE(prog, lastProg);
        EXPECT_LE(prog, 1.0);
        EXPECT_GE(Number(ValueOf(state, "cpu")), 0.0);
        lastProg = prog;
        // A free lock is only right for a client on its way out.
        if (!IsLockHeld(dir + "/lock.orv") && !WaitForEnd(*child, 500ms))
            lockedEveryTime = false;
    }
    EXPECT_GT(reads, 3);
    EXPECT_TRUE(lockedEveryTime);
    EXPECT_GT(lastProg, 0.0);
    ASSERT_TRUE(WaitForEnd(*child, 20s));
    EXPECT_EQ(ExitCode(child->Wait()), 0);

    EXPECT_FALSE(Exists(dir + "/work_unit.orv"));
    EXPECT_FALSE(IsLockHeld(dir + "/lock.orv"));
    std::string result = ReadFile(dir + "/result.orv");
    for (const char* key : kResultKeys)
        EXPECT_TRUE(ValueOf(result, key)) << "result.orv lacks " << key;
    EXPECT_EQ(ValueOf(result, "name"), ValueOf(workUnit, "name"));
    EXPECT_EQ(ValueOf(result, "wu_number"), ValueOf(workUnit, "wu_number"));
    EXPECT_EQ(ValueOf(result, "prog"), "1.000000");
    // The mix of values the log has to cope with.
    EXPECT_NE(ValueOf(result, "name")->find(','), std::string::npos);
    EXPECT_NE(ValueOf(result, "receiver")->find('"'), std::string::npos);
    EXPECT_LT(Number(ValueOf(result, "start_dec")), 0.0);
    EXPECT_TRUE(ValueOf(result, "bs_score")->starts_with("0."));
    EXPECT_EQ(ValueOf(result, "fft_len"), "2048");
    std::string state = ReadFile(dir + "/state.orv");
    EXPECT_EQ(ValueOf(state, "prog"), "1.000000");
    EXPECT_EQ(Number(ValueOf(state, "cpu")), Number(ValueOf(result, "cpu_time")));
    for (const char* file : {"version.orv", "result_header.orv", "pid.orv", "outfile.orv"})
        EXPECT_FALSE(ReadFile(dir + "/" + file).empty()) << file;
    EXPECT_EQ(ValueOf(ReadFile(dir + "/pid.orv"), "pid"), std::to_string(child->Pid()));
    std::string outfile = ReadFile(dir + "/outfile.orv");
    EXPECT_GT(std::count(outfile.begin(), outfile.end(), '\n'), 3) << "outfile.orv grows as the run goes";
}

TEST_F(ProcessingTest, RefusesWithoutWorkUnitOrWhenAnotherClientHoldsTheLock) {
    std::string empty = Instance(1);
    EXPECT_EQ(Run(empty, {"-stop_after_process"}), 1);
    EXPECT_TRUE(ListDir(empty).empty()) << "not even lock.orv may be created";

    std::string busy = InstanceWithWorkUnit(2);
    std::string workUnit = ReadFile(busy + "/work_unit.orv");
    TestChild holder(LockHolderArgs("flock", busy + "/lock.orv"));
    ASSERT_EQ(holder.ReadLine(), "locked");
    EXPECT_EQ(Run(busy, {"-stop_after_process"}), 1);
    EXPECT_EQ(Run(busy, {"-stop_after_xfer"}), 1);
    EXPECT_EQ(ReadFile(busy + "/work_unit.orv"), workUnit);
    EXPECT_FALSE(Exists(busy + "/state.orv"));
    EXPECT_FALSE(Exists(busy + "/result.orv"));
}

TEST_F(ProcessingTest, HangNeverWritesStateAndRunsUntilKilled) {
    std::string dir = InstanceWithWorkUnit(1);
    auto child = Start(dir, {"-stop_after_process"}, {"ORVA_SIM_HANG=1", "ORVA_SIM_PROCESS_SECONDS=0.1"});
    ASSERT_TRUE(WaitUntil([&] { return Exists(dir + "/pid.orv") && IsLockHeld(dir + "/lock.orv"); }));
    // Several times the processing time: a working run would have ended long before.
    EXPECT_FALSE(WaitForEnd(*child, 1s));
    EXPECT_FALSE(Exists(dir + "/state.orv"));
    EXPECT_FALSE(Exists(dir + "/result.orv"));
    EXPECT_TRUE(IsLockHeld(dir + "/lock.orv"));
    EXPECT_EQ(ExitCode(child->Kill()), KilledExitCode());
    EXPECT_TRUE(Exists(dir + "/work_unit.orv"));
    EXPECT_FALSE(IsLockHeld(dir + "/lock.orv"));
}

TEST_F(ProcessingTest, CrashLeavesTheWorkUnitAndTheNextRunResumesWhereItStopped) {
    std::string dir = InstanceWithWorkUnit(1);
    EXPECT_EQ(Run(dir, {"-stop_after_process"}, {"ORVA_SIM_CRASH=1"}), CrashExitCode());
    EXPECT_TRUE(Exists(dir + "/work_unit.orv"));
    EXPECT_FALSE(Exists(dir + "/result.orv"));
    double reached = Number(ValueOf(ReadFile(dir + "/state.orv"), "prog"));
    EXPECT_GE(reached, 0.5);
    EXPECT_LT(reached, 1.0);

    auto child = Start(dir, {"-stop_after_process"});
    std::string said = child->ReadLine();
    size_t from = said.find(" from ");
    ASSERT_NE(from, std::string::npos) << said;
    EXPECT_NEAR(std::strtod(said.c_str() + from + 6, nullptr), reached * 100.0, 0.06) << said;
    EXPECT_EQ(ExitCode(child->Wait()), 0);
    EXPECT_TRUE(Exists(dir + "/result.orv"));
    EXPECT_FALSE(Exists(dir + "/work_unit.orv"));
}

TEST_F(ProcessingTest, BothWorkUnitAndResultLeftFromAnInterruptedEnd) {
    // Same work unit: the earlier run got as far as its result; this run only finishes.
    std::string dir = InstanceWithWorkUnit(1);
    std::string workUnit = ReadFile(dir + "/work_unit.orv");
    ASSERT_EQ(Run(dir, {"-stop_after_process"}), 0);
    std::string result = ReadFile(dir + "/result.orv");
    WriteFile(dir + "/work_unit.orv", workUnit);
    EXPECT_EQ(Run(dir, {"-stop_after_process"}, {"ORVA_SIM_PROCESS_SECONDS=100"}), 0);
    EXPECT_FALSE(Exists(dir + "/work_unit.orv"));
    EXPECT_EQ(ReadFile(dir + "/result.orv"), result);

    // Another work unit's result is never processed over.
    std::string other = InstanceWithWorkUnit(2);
    WriteFile(other + "/result.orv", result);
    std::string otherWorkUnit = ReadFile(other + "/work_unit.orv");
    EXPECT_EQ(Run(other, {"-stop_after_process"}), 1);
    EXPECT_EQ(ReadFile(other + "/result.orv"), result);
    EXPECT_EQ(ReadFile(other + "/work_unit.orv"), otherWorkUnit);
}

} // namespace
} // namespace vantrel::test
