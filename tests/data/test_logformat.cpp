#include <gtest/gtest.h>

#include "data/logformat.h"

namespace vantrel {
namespace {

TEST(LogHeader, EightyFourQuotedNamesJoinedByCommas) {
    const std::string& header = LogHeader();
    EXPECT_EQ(header.size(), 1006u);
    EXPECT_EQ(CountUnquotedCommas(header), 83u);
    EXPECT_EQ(header.rfind("\"date\",\"id\",\"key\",\"email_addr\",", 0), 0u);
    EXPECT_TRUE(header.ends_with(",\"bt_scale\",\"bt_fft_len\",\"bt_pot\""));
    EXPECT_EQ(header.find(' '), std::string::npos);
    EXPECT_NE(header.find(",\"user_name\","), std::string::npos);
    EXPECT_NE(header.find(",\"name\",\"data_type\","), std::string::npos);
    EXPECT_NE(header.find(",\"cpu\",\"prog\",\"bs_power\","), std::string::npos);
}

TEST(QuoteField, BareQuotedAndEscapedValues) {
    // clang-format off
    const std::pair<std::string_view, std::string_view> cases[] = {
        // Bare: empty, or beginning with a non-zero integer (after trimming).
        {"", ""}, {" \t\r\n\v\f", ""}, {"12", "12"}, {"3.75", "3.75"}, {"-4.2", "-4.2"}, {"1e-05", "1e-05"},
        {"2024.03.05 07:08:09", "2024.03.05 07:08:09"}, {"  0042 items\r", "0042 items"},
        {"99999999999999999999999", "99999999999999999999999"}, // never overflows to 0
        // Quoted: text, and 0 at the start.
        {"someone@example.org", "\"someone@example.org\""}, {"0", "\"0\""}, {"0.0123", "\"0.0123\""},
        {"-0.5", "\"-0.5\""}, {"-", "\"-\""}, {".5", "\".5\""}, {" Jane Doe ", "\"Jane Doe\""},
        // Commas, quotes and line breaks: quoted with inner quotes doubled, leading number or not.
        {"Doe, Jane", "\"Doe, Jane\""}, {"12,5", "\"12,5\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"5\" disk", "\"5\"\" disk\""}, {"\"", "\"\"\"\""}, {"line1\nline2", "\"line1\nline2\""},
        {"a\rb", "\"a\rb\""}, {"  a,b\r\n", "\"a,b\""},
    };
    // clang-format on
    for (auto [value, field] : cases)
        EXPECT_EQ(QuoteField(value), field) << value;
}

TEST(CountUnquotedCommas, IgnoresCommasInsideQuotes) {
    EXPECT_EQ(CountUnquotedCommas(""), 0u);
    EXPECT_EQ(CountUnquotedCommas(",,"), 2u);
    EXPECT_EQ(CountUnquotedCommas("1,\"a,b\",2"), 2u);
    // A doubled quote flips twice and leaves the field quoted.
    EXPECT_EQ(CountUnquotedCommas("\"say \"\"hi, you\"\"\",x"), 1u);
    // Every escaped field stays one field.
    std::string row = QuoteField("a,b") + "," + QuoteField("\"q\",r") + "," + QuoteField("x\n,y") + ",3";
    EXPECT_EQ(CountUnquotedCommas(row), 3u);
    // A quote that never closes, or one inside a bare field, is a plain character of a row
    // written without quoting: the commas after it still part fields.
    EXPECT_EQ(CountUnquotedCommas("a,\"b,c"), 2u);
    EXPECT_EQ(CountUnquotedCommas("a,b\"c,d\",e"), 3u);
    EXPECT_TRUE(ScanCsvRecord("a,\"b,c").open);
    EXPECT_FALSE(ScanCsvRecord("a,b\"c,d").open);
    EXPECT_FALSE(ScanCsvRecord("\"a\"b,c").wellFormed);
}

} // namespace
} // namespace vantrel
