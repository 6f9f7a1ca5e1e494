// The RFC 4180 reader: the same records however the text arrives, and a malformed record costs
// only its own line.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "data/csvreader.h"

namespace vantrel {
namespace {

struct ReadOutcome {
    std::vector<CsvRecord> records;
    std::vector<std::string> errors;
};

// Feeds text in pieces of the given size and reads everything.
ReadOutcome ReadInPieces(const std::string& text, std::size_t piece) {
    ReadOutcome outcome;
    CCsvReader reader;
    CsvRecord record;
    std::size_t fed = 0;
    for (;;) {
        CCsvReader::ERead read = reader.ReadRecord(record);
        if (read == CCsvReader::ERead::Record) {
            outcome.records.push_back(record);
        } else if (read == CCsvReader::ERead::Bad) {
            outcome.errors.push_back(reader.Error());
        } else if (read == CCsvReader::ERead::End) {
            return outcome;
        } else if (fed < text.size()) {
            reader.Feed(std::string_view(text).substr(fed, piece));
            fed += piece;
        } else {
            reader.Finish();
        }
    }
}

TEST(CsvReader, ReadsQuotedFieldsAndLineEndsTheSameInAnyPieces) {
    const std::string text = "\"date\",\"name\"\r\n"
                             "2024.01.02 03:04:05,\"a, b\"\r\n"
                             "1,\"two\r\nlines\"\n"
                             "\"say \"\"hi\"\"\",\r\n"
                             "bare\rreturn,\"\"\r\n"
                             "\r\n"
                             "last,\"no line end\"";
    const std::vector<CsvRecord> expected = {
        {"date", "name"},           {"2024.01.02 03:04:05", "a, b"}, {"1", "two\r\nlines"},
        {"say \"hi\"", ""},         {"bare\rreturn", ""},            {""},
        {"last", "no line end"},
    };
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, text.size()}) {
        ReadOutcome outcome = ReadInPieces(text, piece);
        EXPECT_EQ(outcome.records, expected) << "pieces of " << piece;
        EXPECT_TRUE(outcome.errors.empty()) << "pieces of " << piece;
    }
    EXPECT_EQ(ReadCsv(text).records, expected);
    EXPECT_TRUE(ReadCsv(text).error.empty());
    // A line end after the last record starts no other.
    EXPECT_EQ(ReadCsv("a,b\r\n").records, (std::vector<CsvRecord>{{"a", "b"}}));
    EXPECT_TRUE(ReadCsv("").records.empty());
}

TEST(CsvReader, SkipsOnlyTheLineOfAMalformedRecord) {
    const std::string text = "1,good\r\n"
                             "2,a \"quoted\" word\r\n"
                             "3,\"closed\"early\r\n"
                             "4,good\r\n"
                             "5,\"never closed\r\n"
                             "6,good";
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, text.size()}) {
        ReadOutcome outcome = ReadInPieces(text, piece);
        // The unclosed quote runs to the end of the text, so the record is bad and the line after
        // its first one is read again as a record of its own.
        EXPECT_EQ(outcome.records, (std::vector<CsvRecord>{{"1", "good"}, {"4", "good"}, {"6", "good"}}))
            << "pieces of " << piece;
        ASSERT_EQ(outcome.errors.size(), 3u) << "pieces of " << piece;
        EXPECT_EQ(outcome.errors[0], "a double quote inside bare field 2");
        EXPECT_EQ(outcome.errors[1], "text follows the closing quote of field 2");
        EXPECT_EQ(outcome.errors[2], "a quoted field is never closed");
    }
    // Read whole, the first malformed record ends the document and is named.
    CsvDocument doc = ReadCsv(text);
    EXPECT_EQ(doc.records.size(), 1u);
    EXPECT_EQ(doc.error, "record 2: a double quote inside bare field 2");
}

// A damaged log: a row far longer than any row, or with endless fields, costs that row only, and
// the reader holds no more than its limit however much of the row arrives.
TEST(CsvReader, ARowPastTheLimitIsOneBadRowReadWithBoundedMemory) {
    // The reader's limits, spelled out: a change to them is a change to what a log may hold.
    const std::size_t kMostBytes = 1u << 20;
    const std::size_t kMostFields = 4096;
    for (const std::string& junk :
         {std::string(3u << 20, ','), std::string(3u << 20, '\0'), "\"" + std::string(3u << 20, 'x')}) {
        CCsvReader reader;
        CsvRecord record;
        const std::string text = "a,b\n" + junk + "\nc,d\n";
        std::size_t most = 0;
        std::vector<std::string> read;
        int bad = 0;
        std::size_t fed = 0;
        for (bool done = false; !done;) {
            switch (reader.ReadRecord(record)) {
            case CCsvReader::ERead::Record:
                read.push_back(record.front());
                EXPECT_LE(record.size(), kMostFields);
                break;
            case CCsvReader::ERead::Bad:
                ++bad;
                break;
            case CCsvReader::ERead::NeedMore:
                most = std::max(most, reader.Pending());
                if (fed < text.size()) {
                    reader.Feed(std::string_view(text).substr(fed, 64 * 1024));
                    fed += 64 * 1024;
                } else {
                    reader.Finish();
                }
                break;
            case CCsvReader::ERead::End:
                done = true;
                break;
            }
        }
        EXPECT_EQ(bad, 1);
        EXPECT_LE(most, kMostBytes + 64 * 1024) << "the reader held the whole row";
        EXPECT_EQ(read, (std::vector<std::string>{"a", "c"}));
    }
    // Many fields of a short row are bad too; a row at the limit is read.
    EXPECT_EQ(ReadCsv(std::string(kMostFields, ',')).error, "record 1: more than 4096 fields");
    EXPECT_EQ(ReadCsv(std::string(kMostFields - 1, ',')).records.at(0).size(), kMostFields);
}

} // namespace
} // namespace vantrel
