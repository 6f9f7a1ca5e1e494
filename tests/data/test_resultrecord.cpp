#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "data/logformat.h"
#include "data/logmarker.h"
#include "data/resultrecord.h"
#include "datatest.h"
#include "support/childprocess.h"

namespace vantrel {
namespace {

using namespace std::string_literals;
using test::ReadFile;
using test::WriteFile;

std::size_t Col(std::string_view name) {
    for (std::size_t i = 0; i < kLogColumnCount; ++i)
        if (kLogColumnNames[i] == name)
            return i;
    ADD_FAILURE() << "no column " << name;
    return 0;
}

class Record : public test::StoreTest {
protected:
    std::string LogPath() const { return m_dir / "ORVALog.csv"; }

    // An instance holding a result with the given data files.
    void MakeResult(std::uint32_t n, const std::string& userInfo, const std::string& wtemp, const std::string& state,
                    const std::string& result, long long resultTime) {
        std::string dir = Instance(n);
        WriteFile(dir + "/user_info.orv", userInfo);
        WriteFile(dir + "/wtemp.orv", wtemp);
        WriteFile(dir + "/state.orv", state);
        WriteFile(dir + "/result.orv", result);
        test::SetMTime(dir + "/result.orv", resultTime);
    }

    std::atomic<bool> m_logEnabled{true};
};

TEST_F(Record, GathersEveryFileInOrderWithTheNameSplit) {
    MakeResult(3,
               "user_id=4711\nUSER_KEY=k-1\nname= Jane Doe \nemail_addr=a=b@example.org\nnresults=12\n"
               "key=not the key column\nuser_name=not a source\n",
               "name=wtemp unit\nnwus=5\nprog=0.1\n",
               "cpu_time=100.5\ncpu=999\nprog=0.99\n name=blank before\nName=state unit\n",
               "NAME=result unit\nbs_power=3.75\nbt_pot=0.001\nnwus=6\n", test::UtcTest::At(2024, 3, 5, 7, 8, 9));
    ResultRecord record(m_store, m_logEnabled);
    record.GatherResult(3);
    EXPECT_TRUE(record.Complete);
    EXPECT_EQ(record.InstanceDir, m_dir / "3");
    EXPECT_EQ(record.Columns[COL_DATE], "2024.03.05 07:08:09");
    EXPECT_EQ(record.Columns[COL_ID], "4711");
    EXPECT_EQ(record.Columns[COL_KEY], "k-1");
    EXPECT_EQ(record.Columns[COL_USER_NAME], " Jane Doe "); // untrimmed until it is written
    EXPECT_EQ(record.Columns[Col("email_addr")], "a=b@example.org");
    EXPECT_EQ(record.Columns[Col("nresults")], "12");
    EXPECT_EQ(record.Columns[COL_NAME], "result unit"); // result.orv is read last and wins
    EXPECT_EQ(record.Columns[Col("nwus")], "6");
    EXPECT_EQ(record.Columns[COL_CPU], "100.5"); // from cpu_time=, never from cpu=
    EXPECT_EQ(record.Columns[Col("prog")], "0.99");
    EXPECT_EQ(record.Columns[Col("bs_power")], "3.75");
    EXPECT_EQ(record.Columns[Col("bt_pot")], "0.001");
    EXPECT_EQ(record.Columns[Col("url")], "");

    EXPECT_TRUE(record.WriteRow());
    EXPECT_FALSE(record.Complete);
    for (const std::string& column : record.Columns)
        EXPECT_TRUE(column.empty());
    std::string log = ReadFile(LogPath());
    std::string row = log.substr(LogHeader().size() + 2);
    EXPECT_EQ(row.rfind("2024.03.05 07:08:09,4711,\"k-1\",\"a=b@example.org\",\"Jane Doe\",,,", 0), 0u) << row;
    EXPECT_NE(row.find(",\"result unit\","), std::string::npos);
    EXPECT_NE(row.find(",100.5,\"0.99\",3.75,"), std::string::npos);
    EXPECT_TRUE(row.ends_with(",\"0.001\""));
    EXPECT_EQ(CountUnquotedCommas(row), 83u);
}

TEST_F(Record, NameFromWtempWhenResultHasNone) {
    MakeResult(1, "name=user\n", "name=from wtemp\n", "", "bs_score=1\n", 1700000000);
    ResultRecord record(m_store, m_logEnabled);
    record.GatherResult(1);
    EXPECT_EQ(record.Columns[COL_USER_NAME], "user");
    EXPECT_EQ(record.Columns[COL_NAME], "from wtemp");
}

TEST_F(Record, MissingOrHeldDataFilesLeaveTheirColumnsEmptyButTheRowIsWritten) {
    std::string dir = Instance(2);
    WriteFile(dir + "/result.orv", "bs_score=2\n");
    WriteFile(dir + "/state.orv", "prog=0.5\ncpu_time=10\n");
    test::TestChild holder(test::LockHolderArgs("flock", dir + "/state.orv"));
    ASSERT_EQ(holder.ReadLine(), "locked");
    ResultRecord record(m_store, m_logEnabled);
    record.GatherResult(2);
    EXPECT_EQ(record.Columns[Col("prog")], "");
    EXPECT_EQ(record.Columns[COL_CPU], "");
    EXPECT_EQ(record.Columns[Col("bs_score")], "2");
    EXPECT_FALSE(record.Columns[COL_DATE].empty());
    EXPECT_TRUE(record.WriteRow());

    // Without result.orv the date stays empty.
    ResultRecord noResult(m_store, m_logEnabled);
    Instance(5);
    noResult.GatherResult(5);
    EXPECT_TRUE(noResult.Complete);
    EXPECT_EQ(noResult.Columns[COL_DATE], "");
}

TEST_F(Record, BadDataFilesNeverCrashAndKeepWhatTheyHold) {
    std::string huge(3u << 20, 'v');
    std::string result = "bs_bin=1\0002\n"s + "=orphan\n" + "bs_score=\xff\xfe\n" + "bs_power=" + huge + "\n" +
                         "bg_score=a\rbg_power=b\r" + "\nbt_scale=last";
    MakeResult(1, "", "", "", result, 1700000000);
    ResultRecord record(m_store, m_logEnabled);
    record.GatherResult(1);
    EXPECT_EQ(record.Columns[Col("bs_bin")], "1\0002"s);
    EXPECT_EQ(record.Columns[Col("bs_score")], "\xff\xfe");
    EXPECT_EQ(record.Columns[Col("bs_power")], huge);
    EXPECT_EQ(record.Columns[Col("bg_score")], "a\rbg_power=b"); // a CR alone ends no line
    EXPECT_EQ(record.Columns[Col("bg_power")], "");
    EXPECT_EQ(record.Columns[Col("bt_scale")], "last");
    ASSERT_TRUE(record.WriteRow());
    std::string log = ReadFile(LogPath());
    EXPECT_EQ(CountUnquotedCommas(log.substr(LogHeader().size() + 2)), 83u);
    EXPECT_NE(log.find(",\"a\rbg_power=b\","), std::string::npos);
    EXPECT_EQ(log.find("orphan"), std::string::npos); // a line beginning with "=" matches no key
}

TEST_F(Record, LoggingIsDecidedOnceWhenTheRecordIsMade) {
    MakeResult(1, "user_id=1\n", "", "", "bs_score=1\n", 1700000000);
    ResultRecord record(m_store, m_logEnabled);
    m_logEnabled = false; // a change applies from the next record on
    record.GatherResult(1);
    EXPECT_TRUE(record.WriteRow());

    ResultRecord off(m_store, m_logEnabled);
    EXPECT_FALSE(off.LogThisRecord);
    off.GatherResult(1);
    EXPECT_FALSE(off.WriteRow());
    EXPECT_EQ(off.Columns[COL_ID], ""); // cleared all the same
    m_logEnabled = true;
    ResultRecord incomplete(m_store, m_logEnabled);
    incomplete.Columns[COL_ID] = "9";
    EXPECT_FALSE(incomplete.WriteRow());
    // Only the first record's row is in the log.
    std::string log = ReadFile(LogPath());
    EXPECT_EQ(log.substr(LogHeader().size()),
              "\r\n2023.11.14 22:13:20,1" + std::string(44, ',') + "1" + std::string(38, ','));
}

TEST_F(Record, MarkersAreCreatedEmptyAndRemoved) {
    std::string dir = Instance(4);
    EXPECT_FALSE(HasLogMarker(m_store, 4));
    SetLogMarker(m_store, 4, true);
    EXPECT_TRUE(HasLogMarker(m_store, 4));
    WriteFile(dir + "/ORVALogUpdated.txt", "junk");
    SetLogMarker(m_store, 4, true);
    EXPECT_EQ(ReadFile(dir + "/ORVALogUpdated.txt"), "");
    SetLogMarker(m_store, 4, false);
    EXPECT_FALSE(HasLogMarker(m_store, 4));
    SetLogMarker(m_store, 4, false); // nothing to remove

    // A missing instance: nothing is created, nothing fails.
    SetLogMarker(m_store, 9, true);
    EXPECT_FALSE(HasLogMarker(m_store, 9));
    EXPECT_FALSE(std::filesystem::exists(m_dir / "9"));
}

// A run killed between a row's append and the log marker leaves the pending note; the next run
// must find the row rather than write it again, yet write it when the kill came before the append.
TEST_F(Record, ARowIsWrittenOnceWhateverMomentARunEndedAt) {
    for (std::uint32_t n : {2u, 3u, 4u})
        MakeResult(n, "user_id=" + std::to_string(n) + "\n", "", "", "bs_score=1\n", 1700000000 + n);
    auto rows = [&] {
        std::string log = ReadFile(LogPath());
        std::size_t count = 0;
        for (std::size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 1))
            ++count;
        return count;
    };
    ResultRecord record(m_store, m_logEnabled);
    record.GatherResult(2);
    ASSERT_TRUE(record.WriteRow());
    EXPECT_TRUE(HasLogPending(m_store, 2)) << "the note must stay until the marker stands for it";
    // The next run logs another result first, then meets instance 2's result again.
    record.GatherResult(3);
    ASSERT_TRUE(record.WriteRow());
    SetLogMarker(m_store, 3, true);
    EXPECT_FALSE(HasLogPending(m_store, 3));
    record.GatherResult(2);
    EXPECT_TRUE(record.WriteRow()) << "the row found in the log counts as written";
    EXPECT_EQ(rows(), 2u);
    SetLogMarker(m_store, 2, true);
    EXPECT_FALSE(HasLogPending(m_store, 2));

    // Killed after the note, before the append: the row is not there and is written.
    SetLogPending(m_store, 4, true);
    record.GatherResult(4);
    EXPECT_TRUE(record.WriteRow());
    EXPECT_EQ(rows(), 3u);
    EXPECT_NE(ReadFile(LogPath()).find("\r\n2023.11.14 22:13:24,4,"), std::string::npos);

    // A failed append leaves the log without the row, and so no note.
    std::filesystem::remove(LogPath());
    std::filesystem::create_directory(LogPath());
    record.GatherResult(4);
    EXPECT_FALSE(record.WriteRow());
    EXPECT_FALSE(HasLogPending(m_store, 4));

    // A new work unit's processing clears the marker, and a note with it.
    SetLogPending(m_store, 4, true);
    SetLogMarker(m_store, 4, false);
    EXPECT_FALSE(HasLogPending(m_store, 4));
}

TEST_F(Record, AMarkerThatIsALinkIsRemovedWithoutTouchingItsTarget) {
    std::string dir = Instance(4);
    WriteFile(m_dir / "precious", "keep");
    std::error_code ec;
    std::filesystem::create_symlink(m_dir / "precious", dir + "/ORVALogUpdated.txt", ec);
    if (ec)
        GTEST_SKIP() << "this system lets us make no links: " << ec.message();
    EXPECT_TRUE(HasLogMarker(m_store, 4));
    SetLogMarker(m_store, 4, false);
    EXPECT_FALSE(HasLogMarker(m_store, 4));
    EXPECT_EQ(ReadFile(m_dir / "precious"), "keep");
}

// Where python3 is, searched in PATH; empty when it is not installed.
std::string FindPython() {
    const bool windows = std::filesystem::path::preferred_separator == '\\';
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, windows ? ';' : ':')) {
        std::string candidate = (dir.empty() ? "." : dir) + (windows ? "/python3.exe" : "/python3");
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec))
            return candidate;
    }
    return {};
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// Each row of the CSV file as Python's csv module reads it, its fields as hex.
std::vector<std::vector<std::string>> ReadWithPython(const std::string& python, const std::string& csvPath) {
    const char* script = "import csv, sys\n"
                         "with open(sys.argv[1], newline='', encoding='latin-1') as f:\n"
                         "    for row in csv.reader(f, strict=True):\n"
                         "        print('|' + ' '.join(v.encode('latin-1').hex() for v in row))\n";
    test::TestChild child({python, "-c", script, csvPath});
    std::vector<std::vector<std::string>> rows;
    for (std::string line = child.ReadLine(); !line.empty(); line = child.ReadLine()) {
        std::vector<std::string> fields;
        std::stringstream in(line.substr(1));
        std::string field;
        while (std::getline(in, field, ' '))
            fields.push_back(field);
        if (line.back() == ' ')
            fields.emplace_back();
        rows.push_back(fields);
    }
    EXPECT_EQ(test::ChildExitCode(child.Wait()), 0);
    return rows;
}

TEST_F(Record, ALogWithAnUpgradeReadsBackAsWholeRowsInAnyCsvReader) {
    std::string python = FindPython();
    if (python.empty())
        GTEST_SKIP() << "python3 is not installed";

    // An older log of 80 columns, written by the older quoting.
    std::string oldHeader;
    std::string oldRow;
    std::vector<std::string> oldValues;
    for (std::size_t i = 0; i < 80; ++i) {
        oldHeader += (i ? ",\"" : "\"") + std::string(kLogColumnNames[i]) + "\"";
        oldValues.push_back(i == 3 ? "x, y" : i % 7 == 0 ? "" : std::to_string(i + 1));
        oldRow += (i ? "," : "") + (i == 3 ? "\"x, y\"" : oldValues.back());
    }
    WriteFile(LogPath(), oldHeader + "\r\n" + oldRow);

    MakeResult(1, "user_id=17\nname=Doe, \"JD\" Jane\nemail_addr=jd@example.org\n", "", "prog=0.5\ncpu_time=3600\n",
               "bs_score=\"quoted\"\nbs_power=12,5\nbg_score=a\rb\nbt_pot=-0.5\n",
               test::UtcTest::At(2024, 3, 5, 7, 8, 9));
    MakeResult(2, "user_id=18\nname=  Plain  \n", "", "", "name=unit \"b\"\nbt_pot=1e-05\n",
               test::UtcTest::At(2024, 3, 6, 7, 8, 9));
    std::vector<std::vector<std::string>> expected;
    expected.emplace_back();
    for (std::string_view name : kLogColumnNames)
        expected.back().push_back(Hex(name));
    expected.emplace_back();
    for (const std::string& v : oldValues)
        expected.back().push_back(Hex(v));
    expected.back().resize(kLogColumnCount);
    for (std::uint32_t n : {1u, 2u}) {
        ResultRecord record(m_store, m_logEnabled);
        record.GatherResult(n);
        expected.emplace_back();
        for (const std::string& v : record.Columns) {
            std::size_t first = v.find_first_not_of(" \t\r\n");
            expected.back().push_back(
                first == std::string::npos ? "" : Hex(v.substr(first, v.find_last_not_of(" \t\r\n") - first + 1)));
        }
        ASSERT_TRUE(record.WriteRow());
    }
    EXPECT_EQ(ReadFile(m_dir / "Backup of ORVALog.csv"), oldHeader + "\r\n" + oldRow);
    std::string log = ReadFile(LogPath());
    EXPECT_FALSE(log.ends_with("\n") || log.ends_with("\r"));

    std::vector<std::vector<std::string>> rows = ReadWithPython(python, LogPath());
    ASSERT_EQ(rows.size(), 4u);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].size(), kLogColumnCount) << "row " << r;
        EXPECT_EQ(rows[r], expected[r]) << "row " << r;
    }
    EXPECT_EQ(expected[2][COL_USER_NAME], Hex("Doe, \"JD\" Jane"));
    EXPECT_EQ(expected[2][Col("bg_score")], Hex("a\rb"));
    EXPECT_EQ(expected[3][COL_USER_NAME], Hex("Plain"));

    // Upgraded once more (an older log again): the multi-line field survives whole.
    std::string current = ReadFile(LogPath());
    WriteFile(LogPath(), "\"old\"" + current.substr(LogHeader().size()));
    // Its marker set, as a pass sets it after the row: the row is then written afresh.
    SetLogMarker(m_store, 2, true);
    ResultRecord again(m_store, m_logEnabled);
    again.GatherResult(2);
    ASSERT_TRUE(again.WriteRow());
    rows = ReadWithPython(python, LogPath());
    ASSERT_EQ(rows.size(), 5u);
    for (std::size_t r = 1; r < 4; ++r)
        EXPECT_EQ(rows[r], expected[r]) << "row " << r;
    EXPECT_EQ(rows[4], expected[3]);
}

} // namespace
} // namespace vantrel
