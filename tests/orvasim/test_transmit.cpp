#include "simfixture.h"

#include <algorithm>
#include <set>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

class TransmitTest : public SimTest {
protected:
    // An instance holding a finished result, made by the client's own runs.
    std::string InstanceWithResult(int n) {
        std::string dir = Instance(n);
        EXPECT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
        EXPECT_EQ(Run(dir, {"-stop_after_process"}), 0);
        EXPECT_TRUE(Exists(dir + "/result.orv"));
        return dir;
    }
    std::string Received(const std::string& name) const { return ServerDir() + "/received/" + name; }
    std::string UserValue(const std::string& dir, const std::string& key) const {
        return ValueOf(ReadFile(dir + "/user_info.orv"), key).value_or("(missing)");
    }
};

TEST_F(TransmitTest, SendsTheResultCountsItAndFetchesTheNextWorkUnit) {
    std::string dir = InstanceWithResult(1);
    std::string result = ReadFile(dir + "/result.orv");
    EXPECT_EQ(UserValue(dir, "nresults"), "0");
    EXPECT_EQ(UserValue(dir, "nwus"), "1");
    // The account the first run created carries the keys the log reads.
    for (const char* key : {"user_id", "user_key", "name", "email_addr", "country", "postal_code", "register_time",
                            "total_cpu", "url", "venue", "last_wu_time", "last_result_time", "params_index"})
        EXPECT_NE(UserValue(dir, key), "(missing)") << key;

    ASSERT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
    EXPECT_EQ(ListDir(ServerDir() + "/received"), std::vector<std::string>{"wu-000001.orv"});
    EXPECT_EQ(ReadFile(Received("wu-000001.orv")), result);
    EXPECT_FALSE(Exists(dir + "/result.orv"));
    EXPECT_FALSE(Exists(dir + "/wtemp.orv"));
    EXPECT_FALSE(Exists(dir + "/state.orv")) << "the old work unit's progress went with its result";
    std::string workUnit = ReadFile(dir + "/work_unit.orv");
    EXPECT_EQ(ValueOf(workUnit, "wu_number"), "000002");
    for (const char* key : {"name", "task", "version", "data_type", "start_ra", "start_dec", "tape_version"})
        EXPECT_TRUE(ValueOf(workUnit, key)) << key;
    EXPECT_EQ(UserValue(dir, "nresults"), "1");
    EXPECT_EQ(UserValue(dir, "nwus"), "2");
    EXPECT_EQ(std::stod(UserValue(dir, "total_cpu")), std::stod(*ValueOf(result, "cpu_time")));

    // A second cycle counts on from there; an existing account is kept, not recreated.
    WriteFile(dir + "/user_info.orv", "user_id=42\nNote without equals sign\nnresults=7\n");
    ASSERT_EQ(Run(dir, {"-stop_after_process"}), 0);
    ASSERT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
    EXPECT_EQ(UserValue(dir, "nresults"), "8");
    EXPECT_EQ(UserValue(dir, "user_id"), "42");
    EXPECT_NE(ReadFile(dir + "/user_info.orv").find("\nNote without equals sign\n"), std::string::npos);
    EXPECT_EQ(ListDir(ServerDir() + "/received"), (std::vector<std::string>{"wu-000001.orv", "wu-000002.orv"}));
    EXPECT_EQ(ValueOf(ReadFile(dir + "/work_unit.orv"), "wu_number"), "000003");
}

TEST_F(TransmitTest, StopAfterSendLeavesTheInstanceEmpty) {
    std::string dir = InstanceWithResult(1);
    WriteFile(dir + "/stop_after_send.txt", "");
    WriteFile(dir + "/wtemp.orv", "bytes_received=100\n"); // a download from before the marker came
    ASSERT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
    EXPECT_TRUE(Exists(Received("wu-000001.orv")));
    for (const char* file : {"result.orv", "work_unit.orv", "wtemp.orv"})
        EXPECT_FALSE(Exists(dir + "/" + file)) << file;
    EXPECT_EQ(UserValue(dir, "nresults"), "1");

    // An empty marked instance gets nothing, and no number is used up.
    std::string empty = Instance(2);
    WriteFile(empty + "/stop_after_send.txt", "");
    ASSERT_EQ(Run(empty, {"-stop_after_xfer"}), 0);
    EXPECT_FALSE(Exists(empty + "/work_unit.orv"));
    EXPECT_EQ(ReadFile(ServerDir() + "/wu_counter.txt"), "1\n");
}

TEST_F(TransmitTest, FailedTransferKeepsTheResultAndPartialDownloadKeepsWtemp) {
    std::string dir = InstanceWithResult(1);
    std::string result = ReadFile(dir + "/result.orv");
    EXPECT_EQ(Run(dir, {"-stop_after_xfer"}, {"ORVA_SIM_FAIL_TRANSFER=1"}), 1);
    EXPECT_EQ(ReadFile(dir + "/result.orv"), result);
    EXPECT_TRUE(ListDir(ServerDir() + "/received").empty());
    EXPECT_FALSE(Exists(dir + "/work_unit.orv"));
    EXPECT_EQ(UserValue(dir, "nresults"), "0");

    // The result goes through; the download breaks off.
    EXPECT_EQ(Run(dir, {"-stop_after_xfer"}, {"ORVA_SIM_PARTIAL_DOWNLOAD=1"}), 1);
    EXPECT_FALSE(Exists(dir + "/result.orv"));
    EXPECT_TRUE(Exists(dir + "/wtemp.orv"));
    EXPECT_FALSE(Exists(dir + "/work_unit.orv"));
    EXPECT_EQ(ReadFile(ServerDir() + "/wu_counter.txt"), "1\n") << "a broken download takes no number";

    // The next run downloads anew.
    ASSERT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
    EXPECT_FALSE(Exists(dir + "/wtemp.orv"));
    EXPECT_EQ(ValueOf(ReadFile(dir + "/work_unit.orv"), "wu_number"), "000002");

    // A failed connection with nothing to send leaves an empty instance as it was.
    std::string empty = Instance(2);
    EXPECT_EQ(Run(empty, {"-stop_after_xfer"}, {"ORVA_SIM_FAIL_TRANSFER=1"}), 1);
    EXPECT_FALSE(Exists(empty + "/work_unit.orv"));
    EXPECT_FALSE(Exists(empty + "/wtemp.orv"));
}

TEST_F(TransmitTest, ServerKeepsOneFilePerWorkUnit) {
    std::string dir = InstanceWithResult(1);
    std::string result = ReadFile(dir + "/result.orv");
    ASSERT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
    // The same result again, as after a client stopped between its upload and deleting its copy.
    WriteFile(dir + "/result.orv", result);
    ASSERT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
    EXPECT_EQ(ListDir(ServerDir() + "/received"), std::vector<std::string>{"wu-000001.orv"});
    // A different result under a taken number is kept beside it, never over it.
    WriteFile(dir + "/result.orv", result + "bs_power=1.0\n");
    ASSERT_EQ(Run(dir, {"-stop_after_xfer"}), 0);
    EXPECT_EQ(ListDir(ServerDir() + "/received"), (std::vector<std::string>{"wu-000001-2.orv", "wu-000001.orv"}));
    EXPECT_EQ(ReadFile(Received("wu-000001.orv")), result);
}

TEST_F(TransmitTest, ConcurrentClientsNeverGetTheSameWorkUnit) {
    const int count = 8;
    // Holding the counter's lock gathers every client at it, so they all meet there at once.
    MakeDirs(ServerDir());
    TestChild holder(LockHolderArgs("flock", ServerDir() + "/wu_counter.txt"));
    ASSERT_EQ(holder.ReadLine(), "locked");
    std::vector<std::unique_ptr<TestChild>> children;
    for (int n = 1; n <= count; ++n)
        children.push_back(Start(Instance(n), {"-stop_after_xfer"}, {"ORVA_SIM_TRANSFER_SECONDS=0"}));
    EXPECT_FALSE(WaitForEnd(*children.back(), 500ms)) << "a client took a number without the counter's lock";
    for (int n = 1; n <= count; ++n)
        EXPECT_FALSE(Exists(Instance(n) + "/work_unit.orv"));
    holder.CloseInput();
    std::set<std::string> numbers;
    for (int n = 1; n <= count; ++n) {
        ASSERT_TRUE(WaitForEnd(*children[n - 1], 30s));
        EXPECT_EQ(ExitCode(children[n - 1]->Wait()), 0);
        numbers.insert(ValueOf(ReadFile(Instance(n) + "/work_unit.orv"), "wu_number").value_or("none"));
    }
    EXPECT_EQ(numbers.size(), static_cast<size_t>(count));
    EXPECT_EQ(*numbers.begin(), "000001");
    EXPECT_EQ(*numbers.rbegin(), "000008");
    EXPECT_EQ(ReadFile(ServerDir() + "/wu_counter.txt"), "8\n");
}

} // namespace
} // namespace vantrel::test
