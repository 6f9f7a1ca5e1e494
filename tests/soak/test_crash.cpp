// The real program killed with SIGKILL while it processes and while it transmits, then started
// again in the same program directory: the killed run's processing clients are stopped at
// start-up, no work unit or result is lost or sent twice, the cache stays whole, and the log
// has one whole row per result.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "ledger.h"
#include "platform/fileops.h"
#include "programdir.h"

namespace vantrel::soak {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

constexpr unsigned kInstances = 6;

// The hang check 3 s, the transmit pause 0.3 s, the retry timer 216 s.
constexpr const char* kTimeScale = "0.01";

Environment Durations(double processSeconds, double transferSeconds) {
    return {{"VANTREL_TIME_SCALE", kTimeScale},
            {"ORVA_SIM_PROCESS_SECONDS", std::to_string(processSeconds)},
            {"ORVA_SIM_STATE_INTERVAL", "0.1"},
            {"ORVA_SIM_TRANSFER_SECONDS", std::to_string(transferSeconds)}};
}

// A processing run that takes a minute: only the restart can end it in time.
const Environment kSlowClients = Durations(60, 0.05);
// Transfers long enough to be caught in the middle.
const Environment kFastClients = Durations(1.5, 0.4);

// The progress of a processing client ("ORVA n").
double Progress(const CProgramDir& dir, const e2e::ClientProcess& client) {
    return dir.Progress(std::stoul(client.title.substr(5)));
}

// The processing clients of a killed run, which its successor must stop at start-up.
std::vector<e2e::ClientProcess> ProcessingClients(const CProgramDir& dir) {
    std::vector<e2e::ClientProcess> processing;
    for (const e2e::ClientProcess& client : dir.Clients())
        if (IsProcessingTitle(client.title))
            processing.push_back(client);
    return processing;
}

// Which of the given clients still run (same pid, same title).
std::vector<e2e::ClientProcess> StillRunning(const CProgramDir& dir, const std::vector<e2e::ClientProcess>& clients) {
    std::vector<e2e::ClientProcess> running;
    for (const e2e::ClientProcess& now : dir.Clients())
        for (const e2e::ClientProcess& before : clients)
            if (now.pid == before.pid && now.title == before.title)
                running.push_back(now);
    return running;
}

std::string Describe(const std::vector<e2e::ClientProcess>& clients) {
    std::string text;
    for (const e2e::ClientProcess& client : clients)
        text += " [" + std::to_string(client.pid) + " \"" + client.title + "\"]";
    return text;
}

std::size_t ReceivedCount(const CProgramDir& dir) {
    return ReadServer(dir.ServerDir()).copies.size();
}

// Waits until no client works beneath the program directory any more; transmit clients of a
// program that has ended finish by themselves.
bool AllClientsEnded(const CProgramDir& dir) {
    return WaitUntil([&] { return dir.Clients().empty(); }, 60s);
}

TEST(CrashSafety, KilledWhileProcessingAndWhileTransmittingLosesNothing) {
    CProgramDir dir(kInstances);
    dir.WriteConfiguration("-auto -cpu 2 -ORVALog -verbose");
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::printf("[ figures  ] kill delays drawn with seed %u\n", seed);

    // First run: the cache is filled and two slow clients process; killed in the middle.
    std::unique_ptr<e2e::CChild> program = dir.Start(kSlowClients, "run-1");
    ASSERT_TRUE(program->Started());
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::vector<e2e::ClientProcess> processing = ProcessingClients(dir);
            return processing.size() == 2 && Progress(dir, processing[0]) > 0.01 && Progress(dir, processing[1]) > 0.01;
        },
        60s))
        << "two clients never got to work";
    ASSERT_TRUE(KillHard(*program));
    std::vector<e2e::ClientProcess> leftovers = ProcessingClients(dir);
    // Otherwise there is nothing for the next start to stop and the check below proves nothing.
    ASSERT_EQ(leftovers.size(), 2u) << "the kill alone ended the clients:" << Describe(leftovers);

    constexpr int kTransmitKills = 3;
    int transmitKills = 0;
    for (int run = 2;; ++run) {
        program = dir.Start(kFastClients, "run-" + std::to_string(run));
        ASSERT_TRUE(program->Started());
        EXPECT_TRUE(WaitUntil([&] { return StillRunning(dir, leftovers).empty(); }, 20s))
            << "processing clients of the killed run survived the start-up:" << Describe(StillRunning(dir, leftovers));
        if (transmitKills == kTransmitKills)
            break;

        // Killed while a transmit client of this run sends or fetches, after some new result.
        const std::size_t received = ReceivedCount(dir);
        std::vector<e2e::ClientProcess> before = dir.Clients();
        ASSERT_TRUE(WaitUntil(
            [&] {
                if (ReceivedCount(dir) <= received)
                    return false;
                // A client that was not there before comes from this run.
                for (const e2e::ClientProcess& client : dir.Clients())
                    if (IsTransmitTitle(client.title) &&
                        std::none_of(before.begin(), before.end(),
                                     [&](const e2e::ClientProcess& old) { return old.pid == client.pid; }))
                        return true;
                return false;
            },
            90s))
            << "no transmit client after a new result in run " << run;
        const auto delay = std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 700)(random));
        std::this_thread::sleep_for(delay);
        std::vector<e2e::ClientProcess> atKill = dir.Clients();
        ASSERT_TRUE(KillHard(*program));
        ++transmitKills;
        leftovers = ProcessingClients(dir);
        std::printf("[ figures  ] run %d killed %lld ms into a transmit; clients then:%s\n", run,
                    static_cast<long long>(delay.count()), Describe(atKill).c_str());
    }

    // The last run goes on until it has sent more, then ends normally.
    const std::size_t received = ReceivedCount(dir);
    EXPECT_TRUE(WaitUntil([&] { return ReceivedCount(dir) >= received + 2; }, 90s)) << "the last run sent nothing";
    EXPECT_EQ(dir.PostExit(), 0);
    EXPECT_EQ(ExitCode(*program, 60s), std::optional<int>(0));
    EXPECT_TRUE(WaitUntil([&] { return ProcessingClients(dir).empty(); }, 10s)) << "a processing client outlived exit";
    ASSERT_TRUE(AllClientsEnded(dir));

    CacheRecord cache = ReadCache(dir.Path());
    EXPECT_TRUE(IsGapFree(cache) && cache.directories.size() == kInstances)
        << "the cache is not instances 1.." << kInstances << " after the restarts";
    std::vector<std::string> lost = FindLostWork(ReadServer(dir.ServerDir()), cache);
    EXPECT_TRUE(lost.empty()) << Lines(lost);

    // Every instance retired: what is left is processed, sent and logged, and nothing is fetched,
    // so in the end every work unit handed out has been received and has its row.
    const unsigned long handedOut = ReadServer(dir.ServerDir()).handedOut;
    EXPECT_EQ(DrainRetiredCache(dir, Durations(0.5, 0.05), 120s), "");

    ServerRecord server = ReadServer(dir.ServerDir());
    cache = ReadCache(dir.Path());
    LogRecord log = ReadLog(dir.Path() + "/ORVALog.csv");
    lost = FindLostWork(server, cache);
    EXPECT_TRUE(lost.empty()) << Lines(lost);
    EXPECT_EQ(server.copies.size(), server.handedOut) << "not every work unit handed out came back";
    EXPECT_EQ(server.handedOut, handedOut) << "retired instances fetched new work units";
    std::vector<std::string> gaps = FindLogGaps(server, cache, log);
    EXPECT_TRUE(gaps.empty()) << Lines(gaps);
    std::printf("[ figures  ] %d kills; %lu work units handed out, %zu received, %zu log rows\n", transmitKills + 1,
                server.handedOut, server.copies.size(), log.rows);
}

} // namespace
} // namespace vantrel::soak
