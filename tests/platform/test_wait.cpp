#include "platform/wait.h"

#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

using namespace std::chrono_literals;
using platform::CWaitDeadline;

TEST(WaitDeadline, EndsAfterItsTimeoutAndNeverWithoutOneOrBeyondAYear) {
    const CWaitDeadline none(std::nullopt);
    EXPECT_FALSE(none.Left().has_value());
    EXPECT_FALSE(none.Passed());
    // Ten thousand years of milliseconds would overflow the clock's time point if added to now.
    const CWaitDeadline huge(std::chrono::milliseconds::max());
    EXPECT_FALSE(huge.Left().has_value());
    EXPECT_FALSE(huge.Passed());
    const CWaitDeadline year(std::chrono::hours(24 * 365));
    ASSERT_TRUE(year.Left().has_value());
    EXPECT_EQ(*year.Left(), 1 << 30); // a system wait is given at most about 12 days at a time
    EXPECT_FALSE(year.Passed());

    const CWaitDeadline now(0ms);
    EXPECT_EQ(now.Left(), 0);
    EXPECT_TRUE(now.Passed());
    const CWaitDeadline past(-5s);
    EXPECT_EQ(past.Left(), 0);
    EXPECT_TRUE(past.Passed());

    const CWaitDeadline soon(60s);
    ASSERT_TRUE(soon.Left().has_value());
    EXPECT_GT(*soon.Left(), 0);
    EXPECT_LE(*soon.Left(), 60000);
    EXPECT_FALSE(soon.Passed());
}

} // namespace
} // namespace vantrel::test
