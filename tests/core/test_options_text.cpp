#include "core/options.h"
#include "core/optiontext.h"
#include "platform/system.h"

#include <climits>
#include <gtest/gtest.h>
#include <thread>

namespace vantrel {
namespace {

TEST(OptionText, NormalizeSpacesWordsAndJoinsColons) {
    const std::pair<const char*, const char*> cases[] = {
        {"  -cpu   4 \t -auto  ", "-cpu 4 -auto"},
        {"   \t\r\n  ", ""},
        {"-cpu\t4", "-cpu\t4"}, // only a space ends a word
        {"-cpu \t 4", "-cpu 4"},
        {"-proxy host: \t8080 -auto", "-proxy host:8080 -auto"},
        {"-proxy host:    -auto", "-proxy host: -auto"}, // an option after a colon keeps its space
        {"-proxy host:-auto", "-proxy host: -auto"},
        {"-proxy host:   ", "-proxy host:"},
        {"a:  -b c:  d", "a: -b c:d"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(NormalizeOptionText(text), expected) << '"' << text << '"';

    // Megabytes of words must come out whole (and in linear time, or this test never ends).
    std::string text, expected;
    for (int k = 0; k < 200000; ++k) {
        text += " w:  \t 1  -x  ";
        expected += (k == 0 ? "" : " ") + std::string("w:1 -x");
    }
    EXPECT_EQ(NormalizeOptionText(text), expected);
}

TEST(OptionText, ValueIsTheWordAfterTheFirstKeywordAndSpace) {
    EXPECT_EQ(GetOptionValue("-AUTO -CPU 12", "-CPU"), "12");
    EXPECT_EQ(GetOptionValue("-CPU 4\tX", " -CPU\t"), "4"); // keyword trimmed, value ends at a tab
    EXPECT_EQ(GetOptionValue("-CPU 2 -CPU 4", "-CPU"), "2");
    EXPECT_EQ(GetOptionValue("X-CPU 3", "-CPU"), "3");
    for (const char* none : {"-AUTO -CPU", "-CPU4", ""})
        EXPECT_EQ(GetOptionValue(none, "-CPU"), "") << none;
    EXPECT_EQ(GetOptionValue("-CPU 4", ""), "");
}

TEST(OptionText, NumbersNeverOverflow) {
    // Keyword values: the leading signed number, saturating.
    EXPECT_EQ(ReadSignedDecimal("3x"), 3);
    EXPECT_EQ(ReadSignedDecimal(" +3"), 3);
    EXPECT_EQ(ReadSignedDecimal("-3"), -3);
    EXPECT_EQ(ReadSignedDecimal("99999999999"), 99999999999LL);
    EXPECT_EQ(ReadSignedDecimal("123456789012345678901234567890"), LLONG_MAX);
    EXPECT_EQ(ReadSignedDecimal("-123456789012345678901234567890"), -LLONG_MAX);
    for (const char* none : {"", "x3", "-", "+-3"})
        EXPECT_FALSE(ReadSignedDecimal(none).has_value()) << none;

    // Dialog fields: whole non-negative numbers of 32 bits only; "Maximum Processes:" clamps.
    EXPECT_EQ(ParseNumberField(" 0042 "), 42u);
    EXPECT_EQ(ParseNumberField("4294967295"), UINT_MAX);
    for (const char* refused : {"", "  ", "-1", "+3", "3x", "1.5", "4294967296", "99999999999999999999", "1 2"})
        EXPECT_FALSE(ParseNumberField(refused).has_value()) << '"' << refused << '"';
    EXPECT_EQ(ParseMaxProcessesField("0"), 0u);
    EXPECT_EQ(ParseMaxProcessesField("4097"), kMaxProcessesLimit);
    EXPECT_FALSE(ParseMaxProcessesField("-2").has_value());
    // "Desired Cache Size:" clamps too: each instance is a directory made on the dialog's thread.
    EXPECT_EQ(ParseDesiredCacheSizeField("100000000"), kDesiredCacheSizeLimit);
    EXPECT_EQ(ParseDesiredCacheSizeField("10000"), 10'000u);
    EXPECT_EQ(ParseDesiredCacheSizeField("3"), 3u);
    EXPECT_FALSE(ParseDesiredCacheSizeField("1e9").has_value());
    EXPECT_STREQ(kPositiveIntegerMessage, "Please enter a positive integer.");
}

TEST(OptionText, ProcessorCountIsTheSystemsForEveryThread) {
    unsigned seen[4] = {};
    {
        std::jthread a([&] { seen[0] = ProcessorCount(); }), b([&] { seen[1] = ProcessorCount(); });
        std::jthread c([&] { seen[2] = ProcessorCount(); }), d([&] { seen[3] = ProcessorCount(); });
    }
    for (unsigned count : seen)
        EXPECT_EQ(count, platform::GetProcessorCount());
}

} // namespace
} // namespace vantrel
