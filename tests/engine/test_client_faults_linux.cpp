// A client that cannot be got rid of, made by a shell loop that starts a new one whenever one is
// killed.
#include <gtest/gtest.h>

#include "engine/clientcontrol.h"
#include "engine_fixture.h"
#include "support/buildpaths.h"
#include "support/childprocess.h"

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;

// A client that cannot be got rid of: whenever one is killed, a new one with its title takes its
// place (three of them at a time), as a process stuck in the kernel would stay.
TEST_F(ProcessEngineTest, KillingGivesUpOnAClientThatDoesNotGoAndSaysSo) {
    MakeInstance(1);
    ctx.timings.killPause = 200ms;
    ctx.timings.killWait = 500ms;
    const std::string loop = "(while [ ! -e stop ]; do VANTREL_CONSOLE_TITLE='ORVA 1' '" +
                             std::string(test::build::kEngineClient) + "'; done) &";
    TestChild respawner({"/bin/sh", "-c", loop + loop + loop + " wait"}, Inst(1));
    ASSERT_TRUE(WaitUntil([&] { return Clients(1).size() == 3; }));
    slots.Resize(1);

    // Each call returns; one that still finds clients at the end of its wait says so.
    std::string said;
    ASSERT_TRUE(WaitUntil([&] {
        slots.ClaimLowestFree(1);
        testing::internal::CaptureStderr();
        EXPECT_TRUE(KillInstanceClients(ctx, 1));
        said = testing::internal::GetCapturedStderr();
        return said.find("vantrel: the client of instance 1 (process ") != std::string::npos;
    }));
    EXPECT_EQ(slots.Get(0), 0u);

    WriteFile(InstFile(1, "stop"), "");
    ASSERT_TRUE(WaitUntil([&] {
        KillInstanceClients(ctx, 1);
        return Clients(1).empty();
    }));
    respawner.Wait();
    // An ordinary kill says nothing.
    platform::ProcessHandle plain = StartTitled(FormatClientTitle(1), Inst(1));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(KillInstanceClients(ctx, 1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(plain.WaitForExit(10s));
}

} // namespace
} // namespace vantrel::test
