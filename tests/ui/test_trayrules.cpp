#include <gtest/gtest.h>

#include <QString>
#include <climits>
#include <string>

#include "control/trayrules.h"

namespace vantrel::test {
namespace {

// Invalid UTF-8 would come back from the round trip with replacement characters.
bool IsValidUtf8(const std::string& text) {
    return QString::fromStdString(text).toStdString() == text;
}

TEST(TrayIconChoice, FollowsTheCacheStateWithTransmittingFirst) {
    // A running pass shows the transmitting dish whatever the counters say.
    EXPECT_EQ(ChooseTrayIcon(true, 0, 0, 0, 0), 131u);
    EXPECT_EQ(ChooseTrayIcon(true, 2, 3, 4, 5), 131u);
    EXPECT_EQ(ChooseTrayIcon(true, 1, 0, 0, 0), 131u);

    // No instance holds a work unit: red, even while results wait to be sent or fetched.
    EXPECT_EQ(ChooseTrayIcon(false, 0, 0, 0, 0), 130u);
    EXPECT_EQ(ChooseTrayIcon(false, 0, 0, 3, 0), 130u);
    EXPECT_EQ(ChooseTrayIcon(false, 0, 0, 0, 2), 130u);

    // Work held, nothing to send or fetch: cyan; something waits: yellow.
    EXPECT_EQ(ChooseTrayIcon(false, 1, 0, 0, 0), 128u);
    EXPECT_EQ(ChooseTrayIcon(false, 0, 1, 0, 0), 128u);
    EXPECT_EQ(ChooseTrayIcon(false, 1, 1, 1, 0), 138u);
    EXPECT_EQ(ChooseTrayIcon(false, 0, 1, 0, 1), 138u);

    // Two counts that would add up to 0 in 32 bits still mean work is held.
    EXPECT_EQ(ChooseTrayIcon(false, UINT_MAX, 1, 0, 0), 128u);

    // The dialog's example: work unit, work unit, result, empty with one client running.
    CacheCounters counters;
    counters.ProcessingCount = 1;
    counters.WaitingToProcess = 1;
    counters.ReadyToTransmit = 1;
    counters.NeedToFill = 2;
    EXPECT_EQ(ChooseTrayIcon(false, counters), 138u);
    EXPECT_EQ(ChooseTrayIcon(true, counters), 131u);
}

TEST(TrayTip, ComposesOneOrTwoLinesFromTheState) {
    EXPECT_EQ(ComposeTrayTip(false, 0.0f, 0, 0), "Vantrel");
    EXPECT_EQ(ComposeTrayTip(false, 72.0f, 0, 0), "Vantrel"); // the percentage only with monitoring on
    EXPECT_EQ(ComposeTrayTip(false, 0.0f, 0, 4), "Vantrel\n4 to Fill");
    EXPECT_EQ(ComposeTrayTip(false, 0.0f, 2, 0), "Vantrel\n2 to Return");
    EXPECT_EQ(ComposeTrayTip(true, 45.5f, 2, 3), "Vantrel - Current WU 45.50%\n2 to Return; 3 to Fill");
    EXPECT_EQ(ComposeTrayTip(true, 0.0f, 0, 0), "Vantrel - Current WU 0.00%");
    EXPECT_EQ(ComposeTrayTip(true, 100.0f, 0, 1), "Vantrel - Current WU 100.00%\n1 to Fill");
    // Two decimals, rounded, not cut.
    EXPECT_EQ(ComposeTrayTip(true, 33.336f, 0, 0), "Vantrel - Current WU 33.34%");
    // A log that refuses rows takes the percentage's place, and fits beside the counts.
    const std::string logTip = ComposeTrayTip(true, 45.5f, 2, 3, true);
    EXPECT_EQ(logTip, "Vantrel - ORVALog.csv cannot be written\n2 to Return; 3 to Fill");
    EXPECT_EQ(FitTrayTip(logTip), logTip);
}

TEST(TrayTip, ALongTipIsCutBetweenWholeParts) {
    // Every tip of normal use fits and stays as it is.
    std::string normal = ComposeTrayTip(true, 100.0f, 123456, 654321);
    EXPECT_EQ(FitTrayTip(normal), normal);

    // Huge counts overflow the area's 63 bytes: the fill count goes whole, never half a number.
    std::string huge = ComposeTrayTip(true, 100.0f, UINT_MAX, UINT_MAX);
    ASSERT_GT(huge.size(), kMaxTrayTip);
    EXPECT_EQ(FitTrayTip(huge), "Vantrel - Current WU 100.00%\n4294967295 to Return");

    // A cut that would fall in the second line's first part leaves no line feed dangling.
    std::string first(40, 'A');
    std::string cutBeforeLine = FitTrayTip(first + "\n" + std::string(30, 'B'));
    EXPECT_EQ(cutBeforeLine, first);

    // Exactly at the limit nothing is cut; one byte more and the last part goes.
    std::string atLimit = std::string(50, 'C') + "\n" + std::string(12, 'D');
    ASSERT_EQ(atLimit.size(), kMaxTrayTip);
    EXPECT_EQ(FitTrayTip(atLimit), atLimit);
    EXPECT_EQ(FitTrayTip(atLimit + "D"), std::string(50, 'C'));

    // The break may fall right at the limit.
    std::string breakAtLimit = std::string(63, 'E') + "\nF";
    EXPECT_EQ(FitTrayTip(breakAtLimit), std::string(63, 'E'));
}

TEST(TrayTip, APartLongerThanTheLimitIsCutOnACharacterBoundary) {
    std::string ascii(100, 'x');
    EXPECT_EQ(FitTrayTip(ascii), std::string(63, 'x'));

    // Two-byte characters: the 63rd byte would split one, so the cut falls a byte earlier.
    std::string accents;
    for (int i = 0; i < 40; ++i)
        accents += "\xC3\xA9";
    std::string cut = FitTrayTip(accents);
    EXPECT_EQ(cut.size(), 62u);
    EXPECT_TRUE(IsValidUtf8(cut));

    // Four-byte characters after one ASCII byte: 1 + 15 * 4 = 61 bytes stay.
    std::string wide = "v";
    for (int i = 0; i < 20; ++i)
        wide += "\xF0\x9F\x93\xA1";
    cut = FitTrayTip(wide);
    EXPECT_EQ(cut.size(), 61u);
    EXPECT_TRUE(IsValidUtf8(cut));

    // A smaller limit, for a platform that takes less.
    EXPECT_EQ(FitTrayTip("Vantrel\n2 to Return; 3 to Fill", 10), "Vantrel");
}

} // namespace
} // namespace vantrel::test
