#include "platform/process.h"
#include "support/buildpaths.h"
#include "support/tempdir.h"
#include "test_process_util.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace vantrel::test {
namespace {

using platform::ProcessHandle;

std::vector<pid_t> Threads(pid_t pid) {
    std::vector<pid_t> tids;
    for (const auto& entry : std::filesystem::directory_iterator(ProcPath(pid, "task")))
        tids.push_back(std::stoi(entry.path().filename().string()));
    return tids;
}

// Field n (from 1) of a thread's /proc stat line: 19 is its nice value, 41 its policy.
int StatField(pid_t pid, pid_t tid, std::size_t n) {
    std::string stat = ReadFile(ProcPath(pid, "task/" + std::to_string(tid) + "/stat"));
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string value;
    for (std::size_t i = 3; i <= n; ++i)
        fields >> value;
    return std::stoi(value);
}

// A thread's processor mask as /proc shows it, first 64 processors.
// The processors a thread may use as the kernel lists them ("0-3,8"), read from outside.
std::vector<unsigned> AllowedCpus(pid_t pid, pid_t tid) {
    std::string status = ReadFile(ProcPath(pid, "task/" + std::to_string(tid) + "/status"));
    std::size_t at = status.find("Cpus_allowed_list:\t") + 19;
    std::istringstream list(status.substr(at, status.find('\n', at) - at));
    std::vector<unsigned> cpus;
    for (std::string range; std::getline(list, range, ',');) {
        std::size_t dash = range.find('-');
        unsigned first = static_cast<unsigned>(std::stoul(range.substr(0, dash)));
        unsigned last = dash == std::string::npos ? first : static_cast<unsigned>(std::stoul(range.substr(dash + 1)));
        for (unsigned cpu = first; cpu <= last; ++cpu)
            cpus.push_back(cpu);
    }
    return cpus;
}

class ThreadedClient : public ::testing::Test {
protected:
    void SetUp() override {
        m_client =
            platform::StartProcess({{test::build::kThreadedChild, "4"}, m_dir.Path(), "ORVA 1", platform::SW_HIDE});
        ASSERT_TRUE(m_client.IsValid());
        ASSERT_TRUE(WaitUntil([&] { return Threads(m_client.Pid()).size() >= 5; }));
    }
    void TearDown() override {
        m_client.Terminate();
        m_client.WaitForExit(std::chrono::seconds(10));
    }

    TempDir m_dir;
    ProcessHandle m_client;
};

TEST_F(ThreadedClient, PriorityClassReachesEveryThread) {
    const pid_t pid = m_client.Pid();
    struct Step {
        std::uint32_t priorityClass;
        int policy;
        int nice; // -1: any (an idle thread keeps whatever it had)
    };
    // Down to idle, back up (raising needs the right that tests running as root have), and again.
    for (Step step :
         {Step{platform::IDLE_PRIORITY_CLASS, SCHED_IDLE, -1}, Step{platform::HIGH_PRIORITY_CLASS, SCHED_OTHER, -10},
          Step{platform::NORMAL_PRIORITY_CLASS, SCHED_OTHER, 0}, Step{platform::IDLE_PRIORITY_CLASS, SCHED_IDLE, -1}}) {
        bool took = platform::SetPriorityClass(m_client, step.priorityClass);
        if (geteuid() != 0 && step.priorityClass != platform::IDLE_PRIORITY_CLASS) {
            EXPECT_FALSE(took); // refused, and dropped
            continue;
        }
        EXPECT_TRUE(took) << step.priorityClass;
        for (pid_t tid : Threads(pid)) {
            EXPECT_EQ(StatField(pid, tid, 41), step.policy) << "thread " << tid << " class " << step.priorityClass;
            EXPECT_TRUE(step.nice == -1 || StatField(pid, tid, 19) == step.nice) << "thread " << tid;
            EXPECT_EQ(platform::GetPriorityClass(tid), step.priorityClass);
        }
    }
    EXPECT_FALSE(platform::SetPriorityClass(m_client, 0x1234));
    EXPECT_EQ(platform::GetPriorityClass(pid), platform::IDLE_PRIORITY_CLASS);
}

TEST_F(ThreadedClient, AffinityReachesEveryThreadAndBadMasksAreRefused) {
    const pid_t pid = m_client.Pid();
    const std::vector<unsigned> own = platform::GetOwnProcessors();
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own, AllowedCpus(getpid(), getpid()));
    for (unsigned cpu : own) {
        const std::vector<unsigned> one = {cpu};
        EXPECT_TRUE(platform::SetProcessAffinity(m_client, one));
        for (pid_t tid : Threads(pid)) {
            EXPECT_EQ(AllowedCpus(pid, tid), one) << "thread " << tid;
            EXPECT_EQ(platform::GetProcessorsOf(tid), one);
        }
    }
    EXPECT_TRUE(platform::SetProcessAffinity(m_client, own));
    EXPECT_FALSE(platform::SetProcessAffinity(m_client, {}));
    // A processor number far beyond 64 needs a set of its own size; none the process may use.
    EXPECT_FALSE(platform::SetProcessAffinity(m_client, {own.back() + 5000}));
    for (pid_t tid : Threads(pid))
        EXPECT_EQ(AllowedCpus(pid, tid), own) << "thread " << tid;

    ASSERT_TRUE(m_client.Terminate());
    ASSERT_TRUE(m_client.WaitForExit(std::chrono::seconds(20)));
    EXPECT_FALSE(platform::SetProcessAffinity(m_client, own));
    EXPECT_FALSE(platform::SetPriorityClass(m_client, platform::IDLE_PRIORITY_CLASS));
}

TEST(ThreadPriority, LowersOnlyTheCallingThreadAndOnlyOnce) {
    auto nice = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    const int mainBefore = nice();
    int before = 0, once = 0, twice = 0;
    std::thread worker([&] {
        before = nice();
        platform::LowerCurrentThreadPriority();
        once = nice();
        platform::LowerCurrentThreadPriority();
        twice = nice();
    });
    worker.join();
    EXPECT_GT(once, before);
    EXPECT_EQ(twice, once);
    EXPECT_EQ(nice(), mainBefore);
}

} // namespace
} // namespace vantrel::test
