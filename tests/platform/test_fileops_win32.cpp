#include "platform/detail_win32.h" // <windows.h> without the macros that clash with ours
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "platform/filelock.h"
#include "platform/fileops.h"
#include "support/childprocess.h"
#include "support/tempdir.h"


// The file calls as Windows has them: "\" paths, drive letters and UNC names, wildcards that
// ignore case, MoveFile that never replaces, deep paths, junctions, and locks as opens without
// sharing.
namespace vantrel::test {
namespace {

using namespace vantrel::platform;

// A junction at link pointing to target (an absolute path), as "mklink /J" makes one; false when
// the file system or the system here has none.
bool MakeJunction(const std::string& link, const std::string& target) {
    if (!::CreateDirectoryA(link.c_str(), nullptr))
        return false;
    HANDLE dir = ::CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (dir == INVALID_HANDLE_VALUE)
        return false;
    std::wstring substitute = L"\\??\\" + std::wstring(target.begin(), target.end());
    std::wstring print(target.begin(), target.end());
    const USHORT substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    const USHORT printBytes = static_cast<USHORT>(print.size() * sizeof(wchar_t));
    // REPARSE_DATA_BUFFER for a mount point: tag, sizes, then both names, each NUL-terminated.
    std::vector<unsigned char> buffer(8 + 8 + substituteBytes + 2 + printBytes + 2, 0);
    auto put16 = [&buffer](std::size_t at, USHORT value) { std::memcpy(&buffer[at], &value, 2); };
    DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&buffer[0], &tag, 4);
    put16(4, static_cast<USHORT>(buffer.size() - 8));
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, static_cast<USHORT>(substituteBytes + 2));
    put16(14, printBytes);
    std::memcpy(&buffer[16], substitute.data(), substituteBytes);
    std::memcpy(&buffer[16 + substituteBytes + 2], print.data(), printBytes);
    DWORD returned = 0;
    bool made = ::DeviceIoControl(dir, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  nullptr, 0, &returned, nullptr);
    ::CloseHandle(dir);
    if (!made)
        ::RemoveDirectoryA(link.c_str());
    return made;
}

TEST(FileOpsWin32, PathsWithBackslashesDrivesAndUncNames) {
    EXPECT_EQ(JoinPath("C:\\Vantrel", "3"), "C:\\Vantrel\\3");
    EXPECT_EQ(JoinPath("C:\\", "Vantrel"), "C:\\Vantrel");
    EXPECT_EQ(JoinPath("C:/Vantrel/", "3"), "C:/Vantrel/3");
    EXPECT_EQ(FileNamePart("C:\\Vantrel\\vantrel.exe"), "vantrel.exe");
    EXPECT_EQ(FileNamePart("C:vantrel.exe"), "vantrel.exe");
    EXPECT_EQ(DirectoryPart("C:\\Vantrel\\vantrel.exe"), "C:\\Vantrel");
    EXPECT_EQ(DirectoryPart("C:\\vantrel.exe"), "C:\\");
    EXPECT_EQ(DirectoryPart("\\\\server\\share\\vantrel.exe"), "\\\\server\\share");
    EXPECT_EQ(DirectoryPart("vantrel.exe"), "");

    // Both separators reach the same file.
    TempDir dir;
    WriteFile(dir / "cache.dat", "x");
    std::string backslashed = dir.Path() + "\\cache.dat";
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    EXPECT_TRUE(IsRegularFile(backslashed));
    EXPECT_TRUE(IsSameFile(backslashed, dir / "cache.dat"));
}

TEST(FileOpsWin32, WildcardsIgnoreCaseAndMoveAndCopyNeverReplaceWhenTold) {
    TempDir dir;
    WriteFile(dir / "ORVA_a.exe", "");
    WriteFile(dir / "orva_b.EXE", "");
    WriteFile(dir / "other.exe", "");
    MakeDirs(dir / "Orva_dir.exe");
    std::map<std::string, bool> found;
    for (const DirEntry& entry : ListDirectory(dir.Path(), "ORVA*.exe"))
        found[entry.name] = entry.isDirectory;
    EXPECT_EQ(found, (std::map<std::string, bool>{{"ORVA_a.exe", false}, {"Orva_dir.exe", true}, {"orva_b.EXE", false}}));
    EXPECT_TRUE(ListDirectory(dir / "missing").empty());

    // MoveFile refuses an existing target, an empty directory as much as a file.
    MakeDirs(dir / "from");
    MakeDirs(dir / "to");
    WriteFile(dir / "file", "kept");
    MakeDirs(dir / "full");
    WriteFile(dir / "full/inside", "stays");
    EXPECT_FALSE(MoveFile(dir / "from", dir / "to"));
    EXPECT_FALSE(MoveFile(dir / "from", dir / "full"));
    EXPECT_FALSE(MoveFile(dir / "from", dir / "file"));
    EXPECT_FALSE(MoveFile(dir / "file", dir / "to"));   // nor does a file go onto a directory
    EXPECT_FALSE(MoveFile(dir / "file", dir / "full"));
    EXPECT_TRUE(IsDirectory(dir / "from"));
    EXPECT_TRUE(IsDirectory(dir / "to"));
    EXPECT_EQ(ReadFile(dir / "full/inside"), "stays");
    EXPECT_EQ(ReadFile(dir / "file"), "kept");
    EXPECT_TRUE(MoveFile(dir / "from", dir / "moved"));
    EXPECT_TRUE(IsDirectory(dir / "moved"));

    WriteFile(dir / "a", "new");
    EXPECT_FALSE(CopyFile(dir / "a", dir / "file", true));
    EXPECT_EQ(ReadFile(dir / "file"), "kept");
    EXPECT_TRUE(CopyFile(dir / "a", dir / "file", false));
    EXPECT_EQ(ReadFile(dir / "file"), "new");
    EXPECT_FALSE(CopyFile(dir / "missing", dir / "b", false));
    EXPECT_FALSE(CopyFile(dir / "moved", dir / "b", false)); // a directory is no file to copy
    EXPECT_FALSE(PathExists(dir / "b"));
    EXPECT_EQ(FileSize(dir / "file"), 3u);
    EXPECT_TRUE(WriteFileAtomically(dir / "file", "rewritten"));
    EXPECT_EQ(ReadFileText(dir / "file"), "rewritten");
}

TEST(FileOpsWin32, DeepTreesPastTheOldPathLimitAreMadeReadAndDeleted) {
    TempDir dir;
    std::string path = dir / "1";
    ASSERT_TRUE(MakeDirectory(path));
    // Well past 260 characters: each step is a call with the whole path.
    while (path.size() < 600) {
        path = JoinPath(path, "a-directory-with-a-long-name");
        ASSERT_TRUE(MakeDirectory(path)) << path.size();
    }
    std::string file = JoinPath(path, "cache.dat");
    ASSERT_TRUE(WriteFileAtomically(file, "deep"));
    EXPECT_EQ(ReadFileText(file), "deep");
    EXPECT_TRUE(IsRegularFile(file));
    EXPECT_EQ(ListDirectory(path, "*.DAT").size(), 1u);
    // A read-only file goes with the tree too.
    std::string readOnly = JoinPath(path, "read-only");
    ASSERT_TRUE(CreateEmptyFile(readOnly));
    std::replace(readOnly.begin(), readOnly.end(), '/', '\\');
    ASSERT_TRUE(::SetFileAttributesW((L"\\\\?\\" + std::wstring(readOnly.begin(), readOnly.end())).c_str(),
                                     FILE_ATTRIBUTE_READONLY));
    DeleteTree(dir / "1");
    EXPECT_FALSE(PathExists(dir / "1"));
}

TEST(FileOpsWin32, AJunctionInAnInstanceGoesAsALinkAndItsTargetStays) {
    TempDir dir;
    MakeDirs(dir / "elsewhere");
    WriteFile(dir / "elsewhere/keep.dat", "keep");
    MakeDirs(dir / "instance");
    std::string target = dir / "elsewhere";
    std::replace(target.begin(), target.end(), '/', '\\');
    std::string link = dir / "instance/junction";
    std::replace(link.begin(), link.end(), '/', '\\');
    if (!MakeJunction(link, target))
        GTEST_SKIP() << "this system makes no junctions (error " << ::GetLastError() << ")";
    EXPECT_FALSE(IsDirectory(link)); // a junction is never a directory to walk into
    DeleteTree(dir / "instance");
    EXPECT_FALSE(PathExists(dir / "instance"));
    EXPECT_EQ(ReadFile(dir / "elsewhere/keep.dat"), "keep");
}

TEST(FileLockWin32, AFileHeldWithoutSharingFailsTheExclusiveProbe) {
    TempDir dir;
    const std::string lock = dir / "lock.orv";
    EXPECT_FALSE(IsFileLockedByOther(lock)); // missing: nobody holds it
    {
        FileLock held;
        ASSERT_TRUE(held.Acquire(lock));
        EXPECT_TRUE(IsFileLockedByOther(lock));
        // A second holder is refused, and the holder can write the file it holds.
        FileLock second;
        EXPECT_FALSE(second.Acquire(lock));
        EXPECT_TRUE(held.ReplaceContents("12345678"));
        EXPECT_TRUE(held.ReplaceContents("1234"));
    }
    EXPECT_FALSE(IsFileLockedByOther(lock));
    EXPECT_EQ(ReadFile(lock), "1234");
    // A file someone opened only for reading, sharing reads, still fails an exclusive open.
    HANDLE reader = ::CreateFileA(lock.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(IsFileLockedByOther(lock));
    ::CloseHandle(reader);
    EXPECT_FALSE(IsFileLockedByOther(lock));
    // Something under the name that cannot be opened as a file counts as held.
    MakeDirs(dir / "dir.orv");
    EXPECT_TRUE(IsFileLockedByOther(dir / "dir.orv"));

    // Held by another process, as a client holds its lock.orv: the probe's open meets a sharing
    // violation until that process lets go, also when it is killed.
    TestChild client(LockHolderArgs("flock", lock));
    ASSERT_EQ(client.ReadLine(), "locked");
    EXPECT_TRUE(IsFileLockedByOther(lock));
    FileLock ours;
    EXPECT_FALSE(ours.Acquire(lock));
    client.Kill();
    EXPECT_FALSE(IsFileLockedByOther(lock));
    EXPECT_TRUE(ours.Acquire(lock));
}

} // namespace
} // namespace vantrel::test
