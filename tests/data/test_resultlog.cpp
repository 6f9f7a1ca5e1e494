#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>

#include "data/logformat.h"
#include "data/resultlog.h"
#include "resultlogtest.h"
#include "support/childprocess.h"
#include "support/tempdir.h"

namespace vantrel {
namespace {

using test::Exists;
using test::ReadFile;
using test::ResultLog;
using test::Row;
using test::TempDir;
using test::WriteFile;

TEST_F(ResultLog, NewOrEmptyLogGetsTheHeaderAndNeverEndsWithALineEnd) {
    ASSERT_TRUE(AppendToLog(LogPath(), Row("1")));
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n" + Row("1"));
    ASSERT_TRUE(AppendToLog(LogPath(), Row("2")));
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n" + Row("1") + "\r\n" + Row("2"));

    WriteFile(LogPath(), "");
    ASSERT_TRUE(AppendToLog(LogPath(), Row("3")));
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n" + Row("3"));
    EXPECT_FALSE(Exists(Backup()));
}

TEST_F(ResultLog, HeaderInOtherLetterCaseIsAppendedToAsItIs) {
    std::string upper = LogHeader();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    WriteFile(LogPath(), upper + "\n" + Row("1"));
    ASSERT_TRUE(AppendToLog(LogPath(), Row("2")));
    EXPECT_EQ(ReadFile(LogPath()), upper + "\n" + Row("1") + "\r\n" + Row("2"));
    EXPECT_FALSE(Exists(Backup()));
}

TEST_F(ResultLog, OlderHeaderIsBackedUpAndRowsArePaddedToTheCurrentColumns) {
    std::string old = "\"date\",\"id\",\"nwus\"\r\n"
                      "2001.01.01 10:00:00,12,3\r\n"
                      "2001.01.02 10:00:00,13,\"a,b\"\n" // a comma inside quotes is no column
                      "x" +
                      std::string(90, ',') +
                      "\r\n" // more columns than the header: unchanged
                      "\r\n" // a blank line is a row of empty fields
                      "2001.01.03 10:00:00,\"two\nlines\",\"and\r\nmore\",4";
    WriteFile(LogPath(), old);
    ASSERT_TRUE(AppendToLog(LogPath(), Row("new")));
    EXPECT_EQ(ReadFile(Backup()), old);
    std::string expected = LogHeader() + "\r\n" + "2001.01.01 10:00:00,12,3" + std::string(81, ',') + "\r\n" +
                           "2001.01.02 10:00:00,13,\"a,b\"" + std::string(81, ',') + "\r\n" + "x" +
                           std::string(90, ',') + "\r\n" + std::string(83, ',') + "\r\n" +
                           "2001.01.03 10:00:00,\"two\nlines\",\"and\r\nmore\",4" + std::string(80, ',') + "\r\n" +
                           Row("new");
    EXPECT_EQ(ReadFile(LogPath()), expected);
}

TEST_F(ResultLog, OldRowsWithStrayQuotesAreNeverJoinedOrMisPadded) {
    std::string old = "date,id,name\r\n"
                      "1,\"Bob,x\r\n"          // a quote opened and never closed: written without quoting
                      "2,say \"hi\",y\r\n"     // quotes inside a bare field are plain characters
                      "3,\"ok\"\"\",z\r\n"     // a quoted field with a doubled quote
                      "4,\"abc\r\n"            // a quote that closes on the next line, but with text after it
                      "5,de\"f,g\r\n"
                      "6,\"two\r\nlines\",h"; // a quoted field over two lines: one row
    WriteFile(LogPath(), old);
    ASSERT_TRUE(AppendToLog(LogPath(), Row("new")));
    EXPECT_EQ(ReadFile(Backup()), old);
    const std::string pad(81, ',');
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n1,\"Bob,x" + pad + "\r\n2,say \"hi\",y" + pad +
                                       "\r\n3,\"ok\"\"\",z" + pad + "\r\n4,\"abc" + std::string(82, ',') +
                                       "\r\n5,de\"f,g" + pad + "\r\n6,\"two\r\nlines\",h" + pad + "\r\n" + Row("new"));
}

TEST_F(ResultLog, UpgradeSkipsOnlyTheFirstLine) {
    // A blank first line differs from the header; the old header line is dropped even when its
    // quotes are unbalanced, and the rows after it survive.
    WriteFile(LogPath(), "\r\n1,2");
    ASSERT_TRUE(AppendToLog(LogPath(), Row("a")));
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n1,2" + std::string(82, ',') + "\r\n" + Row("a"));

    WriteFile(LogPath(), "\"date,id\n5,6\n");
    ASSERT_TRUE(AppendToLog(LogPath(), Row("b")));
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n5,6" + std::string(82, ',') + "\r\n" + Row("b"));
}

TEST_F(ResultLog, BackupsAreNumberedAndNeverOverwritten) {
    WriteFile(LogPath(), "old header 1\r\n1");
    ASSERT_TRUE(AppendToLog(LogPath(), Row("a")));
    WriteFile(LogPath(), "old header 2\r\n2");
    ASSERT_TRUE(AppendToLog(LogPath(), Row("b")));
    WriteFile(LogPath(), "old header 3\r\n3");
    ASSERT_TRUE(UpgradeLog(LogPath()));
    EXPECT_EQ(ReadFile(Backup()), "old header 1\r\n1");
    EXPECT_EQ(ReadFile(Backup("Backup of ORVALog(1).csv")), "old header 2\r\n2");
    EXPECT_EQ(ReadFile(Backup("Backup of ORVALog(2).csv")), "old header 3\r\n3");
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n3" + std::string(83, ','));
    // Nothing else is left beside the log, no temporary file either.
    EXPECT_EQ(Names(), (std::set<std::string>{"Backup of ORVALog(1).csv", "Backup of ORVALog(2).csv",
                                              "Backup of ORVALog.csv", "ORVALog.csv"}));
}

TEST(FreeBackupName, FirstNameThatNothingHas) {
    TempDir dir;
    std::string candidate = dir / "Backup of ORVALog.csv";
    EXPECT_EQ(FreeBackupName(candidate), candidate);
    WriteFile(candidate, "");
    EXPECT_EQ(FreeBackupName(candidate), dir / "Backup of ORVALog(1).csv");
    test::MakeDirs(dir / "Backup of ORVALog(1).csv"); // a directory takes the name too
    EXPECT_EQ(FreeBackupName(candidate), dir / "Backup of ORVALog(2).csv");

    // Only a "." in the file name starts the extension.
    test::MakeDirs(dir / "v.d");
    WriteFile(dir / "v.d/Backup of log", "");
    EXPECT_EQ(FreeBackupName(dir / "v.d/Backup of log"), dir / "v.d/Backup of log(1).");
}

TEST_F(ResultLog, ALogThatCannotBeOpenedLosesOnlyTheNewRow) {
    // A directory in the log's place.
    test::MakeDirs(LogPath());
    EXPECT_FALSE(AppendToLog(LogPath(), Row("1")));
    EXPECT_FALSE(Exists(Backup()));
    ASSERT_TRUE(std::filesystem::remove(LogPath()));

    // Held by other processes, with each kind of lock.
    std::string content = LogHeader() + "\r\n" + Row("0");
    WriteFile(LogPath(), content);
    // (The content is read once the holder has let go: on Windows nobody reads a file held so.)
    for (const char* kind : {"flock", "ofd", "posix"}) {
        {
            test::TestChild holder(test::LockHolderArgs(kind, LogPath()));
            ASSERT_EQ(holder.ReadLine(), "locked") << kind;
            EXPECT_FALSE(AppendToLog(LogPath(), Row("1"))) << kind;
        }
        EXPECT_EQ(ReadFile(LogPath()), content) << kind;
    }
    // An old log that is held cannot be upgraded either: nothing moves.
    WriteFile(LogPath(), "old\r\n1");
    test::TestChild holder(test::LockHolderArgs("flock", LogPath()));
    ASSERT_EQ(holder.ReadLine(), "locked");
    EXPECT_FALSE(AppendToLog(LogPath(), Row("1")));
    EXPECT_FALSE(UpgradeLog(LogPath()));
    EXPECT_FALSE(Exists(Backup()));
    holder.Kill();
    EXPECT_EQ(ReadFile(LogPath()), "old\r\n1");
    EXPECT_TRUE(AppendToLog(LogPath(), Row("1")));
}

} // namespace
} // namespace vantrel
