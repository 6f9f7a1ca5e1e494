// The result log where only Linux can stage the fault: a file system without renameat2's
// no-replace flag, permission bits, a file-size limit standing in for a full disk, a dangling link.
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <set>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "data/logformat.h"
#include "data/resultlog.h"
#include "datatest_linux.h"
#include "platform/fileops.h"
#include "resultlogtest.h"

namespace vantrel {
namespace {

using test::Exists;
using test::ChildExitCode;
using test::ReadFile;
using test::ResultLog;
using test::Row;
using test::RunInChild;
using test::TempDir;
using test::WriteFile;

// In a child whose renameat2 fails with EINVAL, as on NFS and many FUSE file systems.
template <typename Fn> bool WithoutRenameNoReplace(Fn fn) {
    return ChildExitCode(RunInChild([&] {
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

TEST_F(ResultLog, UpgradeKeepsTheFileMode) {
    WriteFile(LogPath(), "\"date,id\n5,6\n");
    ASSERT_EQ(::chmod(LogPath().c_str(), 0640), 0);
    ASSERT_TRUE(AppendToLog(LogPath(), Row("b")));
    EXPECT_EQ(ReadFile(LogPath()), LogHeader() + "\r\n5,6" + std::string(82, ',') + "\r\n" + Row("b"));
    struct stat st {};
    ASSERT_EQ(::stat(LogPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(FreeBackupName, ADanglingLinkTakesTheNameToo) {
    TempDir dir;
    std::string candidate = dir / "Backup of ORVALog.csv";
    ASSERT_EQ(::symlink("/nonexistent", candidate.c_str()), 0);
    EXPECT_EQ(FreeBackupName(candidate), dir / "Backup of ORVALog(1).csv");
}

TEST_F(ResultLog, ReadOnlyLogsAndDirectoriesAreLeftAsTheyWere) {
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
    std::string content = LogHeader() + "\r\n" + Row("0");
    WriteFile(LogPath(), content);
    ASSERT_EQ(::chmod(LogPath().c_str(), 0444), 0);
    EXPECT_EQ(ChildExitCode(RunInChild([&] { return AppendToLog(LogPath(), Row("1")); }, true)), 1);
    EXPECT_EQ(ReadFile(LogPath()), content);

    // A read-only directory: no new log, and an old one cannot be upgraded in place.
    ASSERT_EQ(::chmod(LogPath().c_str(), 0666), 0);
    WriteFile(LogPath(), "old\r\n1");
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0555), 0);
    EXPECT_EQ(ChildExitCode(RunInChild([&] { return AppendToLog(LogPath(), Row("1")); }, true)), 1);
    EXPECT_EQ(ReadFile(LogPath()), "old\r\n1");
    EXPECT_FALSE(Exists(Backup()));
    ASSERT_EQ(::unlink(LogPath().c_str()), 0);
    EXPECT_EQ(ChildExitCode(RunInChild([&] { return AppendToLog(LogPath(), Row("1")); }, true)), 1);
    EXPECT_FALSE(Exists(LogPath()));
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0700), 0);
}

TEST_F(ResultLog, AFullDiskNeverLeavesHalfARowOrHalfAnUpgrade) {
    std::string content = LogHeader() + "\r\n" + Row("0");
    WriteFile(LogPath(), content);
    std::string bigRow = Row(std::string(5000, '7'));
    // Room for a bit more than the log, not for the row: the append is undone.
    EXPECT_EQ(ChildExitCode(RunInChild([&] { return AppendToLog(LogPath(), bigRow); }, false, content.size() + 100)), 1);
    EXPECT_EQ(ReadFile(LogPath()), content);
    // A new log without room for its header and row is left empty, never with a header alone
    // followed by half a row.
    std::string other = m_dir / "other.csv";
    EXPECT_EQ(ChildExitCode(RunInChild([&] { return AppendToLog(other, bigRow); }, false, 2000)), 1);
    EXPECT_EQ(ReadFile(other), "");

    // An upgrade that runs out of room keeps the old log where it was, with no backup or leftovers.
    std::string old = "old\r\n" + std::string(200000, '1');
    WriteFile(LogPath(), old);
    EXPECT_EQ(ChildExitCode(RunInChild([&] { return AppendToLog(LogPath(), Row("1")); }, false, 100000)), 1);
    EXPECT_EQ(ReadFile(LogPath()), old);
    EXPECT_FALSE(Exists(Backup()));
    EXPECT_EQ(Names(), (std::set<std::string>{"ORVALog.csv", "other.csv"}));
}

} // namespace
} // namespace vantrel
