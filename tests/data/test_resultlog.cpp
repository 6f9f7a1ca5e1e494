#include <cctype>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "data/logformat.h"
#include "data/resultlog.h"
#include "datatest.h"
#include "platform/fileops.h"
#include "support/childprocess.h"
#include "support/tempdir.h"

namespace vantrel {
namespace {

using test::ExitCode;
using test::ReadFile;
using test::RunInChild;
using test::TempDir;
using test::WriteFile;

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// A row of 84 fields whose first field is tag.
std::string Row(const std::string& tag) {
    return tag + std::string(83, ',');
}

class ResultLog : public ::testing::Test {
protected:
    std::string LogPath() const { return m_dir / "ORVALog.csv"; }
    std::string Backup(const char* name = "Backup of ORVALog.csv") const { return m_dir / name; }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    TempDir m_dir;
};

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

// In a child whose renameat2 fails with EINVAL, as on NFS and many FUSE file systems.
template <typename Fn> bool WithoutRenameNoReplace(Fn fn) {
    return ExitCode(RunInChild([&] {
               sock_filter filter[] = {
                   BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                   BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 1),
                   BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
                   BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
               };
               sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
               if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
                   return false;
               return fn();
           })) == 0;
}

TEST_F(ResultLog, UpgradeWorksWhereTheFileSystemRefusesRenameNoReplace) {
    WriteFile(LogPath(), "old header\r\n1");
    WriteFile(Backup(), "an earlier backup");
    std::string dirA = m_dir / "a";
    std::string dirB = m_dir / "b";
    ASSERT_EQ(::mkdir(dirA.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dirB.c_str(), 0700), 0);
    EXPECT_TRUE(WithoutRenameNoReplace([&] {
        // The filter is in place: the plain call fails as it would there.
        if (::renameat2(AT_FDCWD, dirA.c_str(), AT_FDCWD, (dirA + "x").c_str(), RENAME_NOREPLACE) == 0 ||
            errno != EINVAL)
            return false;
        // Nothing is replaced, not even an empty directory or a file.
        return AppendToLog(LogPath(), Row("a")) && !platform::MoveFile(dirA, dirB) &&
               !platform::MoveFile(LogPath(), Backup()) && platform::MoveFile(dirA, m_dir / "c") &&
               platform::CopyFile(LogPath(), m_dir / "copy.csv", true) &&
               !platform::CopyFile(LogPath(), m_dir / "copy.csv", true);
    }));
    EXPECT_EQ(ReadFile(Backup()), "an earlier backup");
    EXPECT_EQ(ReadFile(Backup("Backup of ORVALog(1).csv")), "old header\r\n1");
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n1" + std::string(83, ',') + "\r\n" + Row("a"));
    EXPECT_EQ(ReadFile(m_dir / "copy.csv"), ReadFile(LogPath()));
    EXPECT_TRUE(std::filesystem::is_directory(m_dir / "c"));
    EXPECT_TRUE(std::filesystem::is_directory(dirB));
    EXPECT_FALSE(Exists(dirA));
}

TEST_F(ResultLog, UpgradeSkipsOnlyTheFirstLineAndKeepsTheFileMode) {
    // A blank first line differs from the header; the old header line is dropped even when its
    // quotes are unbalanced, and the rows after it survive.
    WriteFile(LogPath(), "\r\n1,2");
    ASSERT_TRUE(AppendToLog(LogPath(), Row("a")));
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n1,2" + std::string(82, ',') + "\r\n" + Row("a"));

    ASSERT_EQ(::unlink(LogPath().c_str()), 0);
    WriteFile(LogPath(), "\"date,id\n5,6\n");
    ASSERT_EQ(::chmod(LogPath().c_str(), 0640), 0);
    ASSERT_TRUE(AppendToLog(LogPath(), Row("b")));
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n5,6" + std::string(82, ',') + "\r\n" + Row("b"));
    struct stat st {};
    ASSERT_EQ(::stat(LogPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
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
    ASSERT_EQ(::symlink("/nonexistent", (dir / "Backup of ORVALog(2).csv").c_str()), 0); // so does a dangling link
    EXPECT_EQ(FreeBackupName(candidate), dir / "Backup of ORVALog(3).csv");

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
    ASSERT_EQ(::rmdir(LogPath().c_str()), 0);

    // Held by other processes, with each kind of lock.
    std::string content = LogHeader() + "\r\n" + Row("0");
    WriteFile(LogPath(), content);
    for (const char* kind : {"flock", "ofd", "posix"}) {
        test::TestChild holder(test::LockHolderArgs(kind, LogPath()));
        ASSERT_EQ(holder.ReadLine(), "locked") << kind;
        EXPECT_FALSE(AppendToLog(LogPath(), Row("1"))) << kind;
        EXPECT_EQ(ReadFile(LogPath()), content) << kind;
    }
    // An old log that is held cannot be upgraded either: nothing moves.
    WriteFile(LogPath(), "old\r\n1");
    test::TestChild holder(test::LockHolderArgs("flock", LogPath()));
    ASSERT_EQ(holder.ReadLine(), "locked");
    EXPECT_FALSE(AppendToLog(LogPath(), Row("1")));
    EXPECT_FALSE(UpgradeLog(LogPath()));
    EXPECT_EQ(ReadFile(LogPath()), "old\r\n1");
    EXPECT_FALSE(Exists(Backup()));
    holder.Kill();
    EXPECT_TRUE(AppendToLog(LogPath(), Row("1")));
}

TEST_F(ResultLog, ReadOnlyLogsAndDirectoriesAreLeftAsTheyWere) {
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
    std::string content = LogHeader() + "\r\n" + Row("0");
    WriteFile(LogPath(), content);
    ASSERT_EQ(::chmod(LogPath().c_str(), 0444), 0);
    EXPECT_EQ(ExitCode(RunInChild([&] { return AppendToLog(LogPath(), Row("1")); }, true)), 1);
    EXPECT_EQ(ReadFile(LogPath()), content);

    // A read-only directory: no new log, and an old one cannot be upgraded in place.
    ASSERT_EQ(::chmod(LogPath().c_str(), 0666), 0);
    WriteFile(LogPath(), "old\r\n1");
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0555), 0);
    EXPECT_EQ(ExitCode(RunInChild([&] { return AppendToLog(LogPath(), Row("1")); }, true)), 1);
    EXPECT_EQ(ReadFile(LogPath()), "old\r\n1");
    EXPECT_FALSE(Exists(Backup()));
    ASSERT_EQ(::unlink(LogPath().c_str()), 0);
    EXPECT_EQ(ExitCode(RunInChild([&] { return AppendToLog(LogPath(), Row("1")); }, true)), 1);
    EXPECT_FALSE(Exists(LogPath()));
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0700), 0);
}

TEST_F(ResultLog, AFullDiskNeverLeavesHalfARowOrHalfAnUpgrade) {
    std::string content = LogHeader() + "\r\n" + Row("0");
    WriteFile(LogPath(), content);
    std::string bigRow = Row(std::string(5000, '7'));
    // Room for a bit more than the log, not for the row: the append is undone.
    EXPECT_EQ(ExitCode(RunInChild([&] { return AppendToLog(LogPath(), bigRow); }, false, content.size() + 100)), 1);
    EXPECT_EQ(ReadFile(LogPath()), content);
    // A new log without room for its header and row is left empty, never with a header alone
    // followed by half a row.
    std::string other = m_dir / "other.csv";
    EXPECT_EQ(ExitCode(RunInChild([&] { return AppendToLog(other, bigRow); }, false, 2000)), 1);
    EXPECT_EQ(ReadFile(other), "");

    // An upgrade that runs out of room keeps the old log where it was, with no backup or leftovers.
    std::string old = "old\r\n" + std::string(200000, '1');
    WriteFile(LogPath(), old);
    EXPECT_EQ(ExitCode(RunInChild([&] { return AppendToLog(LogPath(), Row("1")); }, false, 100000)), 1);
    EXPECT_EQ(ReadFile(LogPath()), old);
    EXPECT_FALSE(Exists(Backup()));
    EXPECT_EQ(Names(), (std::set<std::string>{"ORVALog.csv", "other.csv"}));
}

} // namespace
} // namespace vantrel
