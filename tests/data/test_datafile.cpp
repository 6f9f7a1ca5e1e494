#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "data/datafile.h"
#include "data/filehandle.h"
#include "platform/file.h"
#include "support/tempdir.h"

namespace vantrel {
namespace {

using test::TempDir;
using test::WriteFile;
using Status = CLineReader::ReadStatus;
using namespace std::string_view_literals;

struct ReadLines {
    std::vector<std::string> lines;
    std::vector<std::string> ends;
    Status last = Status::End;
};

ReadLines ReadAll(CLineReader& reader) {
    ReadLines result;
    std::string line;
    while ((result.last = reader.ReadLine(line)) == Status::Line) {
        result.lines.push_back(line);
        result.ends.emplace_back(reader.LastLineEnd());
    }
    return result;
}

ReadLines ReadFileLines(const std::string& path) {
    CFileHandle file = OpenRegularFile(path, {});
    EXPECT_TRUE(file.IsValid());
    CLineReader reader(file);
    return ReadAll(reader);
}

TEST(LineReader, SplitsAtLineFeedsAndDropsOnlyTheCarriageReturnBeforeOne) {
    TempDir dir;
    WriteFile(dir / "a.orv", "one=1\r\ntwo=2\nmid\rdle\r\n\nlast");
    ReadLines r = ReadFileLines(dir / "a.orv");
    EXPECT_EQ(r.lines, (std::vector<std::string>{"one=1", "two=2", "mid\rdle", "", "last"}));
    EXPECT_EQ(r.ends, (std::vector<std::string>{"\r\n", "\n", "\r\n", "\n", ""}));
    EXPECT_EQ(r.last, Status::End);

    // A final line feed ends the last line without starting another; CR-only files are one line.
    WriteFile(dir / "b.orv", "a\nb\n");
    EXPECT_EQ(ReadFileLines(dir / "b.orv").lines, (std::vector<std::string>{"a", "b"}));
    WriteFile(dir / "c.orv", "cpu=1\rprog=0.5\r");
    EXPECT_EQ(ReadFileLines(dir / "c.orv").lines, (std::vector<std::string>{"cpu=1\rprog=0.5\r"}));
    WriteFile(dir / "d.orv", "");
    EXPECT_TRUE(ReadFileLines(dir / "d.orv").lines.empty());
}

TEST(LineReader, KeepsNulBytesForeignBytesAndLinesOfMegabytes) {
    TempDir dir;
    std::string huge(3 * 1024 * 1024 + 17, 'x');
    huge[70000] = '\r'; // a lone carriage return across a chunk border stays in the line
    std::string content = std::string("a\0b=\xff\xfe", 6) + "\n" + huge + "\r\n" + "tail=\xc3";
    WriteFile(dir / "big.orv", content);
    ReadLines r = ReadFileLines(dir / "big.orv");
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], std::string("a\0b=\xff\xfe", 6));
    EXPECT_EQ(r.lines[1], huge);
    EXPECT_EQ(r.ends[1], "\r\n");
    EXPECT_EQ(r.lines[2], "tail=\xc3");
}

TEST(LineReader, RewindReadsTheFileAsItIsNowAfterItShrankOrGrew) {
    TempDir dir;
    std::string path = dir / "state.orv";
    WriteFile(path, "cpu=100\nprog=0.5\nextra\n");
    CFileHandle file = OpenRegularFile(path, {});
    ASSERT_TRUE(file.IsValid());
    CLineReader reader(file);
    std::string line;
    ASSERT_EQ(reader.ReadLine(line), Status::Line);

    // Rewritten in place, shorter: nothing of the old, longer content may come back.
    {
        platform::File writer = platform::OpenRegularFile(path, {.write = true});
        ASSERT_TRUE(writer.IsValid());
        ASSERT_TRUE(writer.Truncate(0));
        ASSERT_TRUE(writer.WriteAll("cpu=7"));
    }
    ASSERT_TRUE(reader.Rewind());
    ReadLines r = ReadAll(reader);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"cpu=7"}));

    WriteFile(path, "cpu=8\nprog=0.9\n");
    ASSERT_TRUE(reader.Rewind());
    EXPECT_EQ(ReadAll(reader).lines, (std::vector<std::string>{"cpu=8", "prog=0.9"}));
}

TEST(ProgressRule, OnlyTheExactKeyCountsAndOnlyADecimalNumberIsTaken) {
    struct Case {
        std::string_view line;
        bool counts;
        float after; // the value afterwards, starting from 42
    };
    // clang-format off
    const Case cases[] = {
        {"cpu=3600", true, 3600.0f}, {"cpu=  0.25 of the work", true, 0.25f}, {"cpu=\t+12.5e2xyz", true, 1250.0f},
        {"cpu=-.5", true, -0.5f}, {"cpu=7.", true, 7.0f},
        // Not the key: upper case, a blank before, a longer key.
        {"CPU=1", false, 42.0f}, {" cpu=1", false, 42.0f}, {"cpu =1", false, 42.0f}, {"cpu", false, 42.0f},
        {"cpu_time=1", false, 42.0f},
        // Seen, but no decimal number: the value stays.
        {"cpu=abc", true, 42.0f}, {"cpu=", true, 42.0f}, {"cpu=.", true, 42.0f}, {"cpu=+.e3", true, 42.0f},
        {"cpu=inf", true, 42.0f}, {"cpu=nan", true, 42.0f}, {"cpu=\0001"sv, true, 42.0f},
        // The longest decimal number: no hex, an exponent only with digits, a comma is no point
        // (whatever the locale says).
        {"cpu=0x10", true, 0.0f}, {"cpu=100ergs", true, 100.0f}, {"cpu=3e+", true, 3.0f}, {"cpu=0,25", true, 0.0f},
        {"cpu=1e-999", true, 0.0f},
    };
    // clang-format on
    for (const Case& c : cases) {
        float value = 42.0f;
        EXPECT_EQ(ReadProgressKey(c.line, "cpu=", value), c.counts) << c.line;
        EXPECT_FLOAT_EQ(value, c.after) << c.line;
    }
    // Too large for a float: infinity, as a scan gives.
    float v = 0.0f;
    EXPECT_TRUE(ScanDecimalFloat("1e39", v) && std::isinf(v) && v > 0);
    EXPECT_TRUE(ScanDecimalFloat("-1e999", v) && std::isinf(v) && v < 0);
    EXPECT_TRUE(EqualsIgnoreCase("User_ID=", "user_id="));
    EXPECT_FALSE(EqualsIgnoreCase("\xc9=", "\xe9=")); // only ASCII letters fold
}

} // namespace
} // namespace vantrel
