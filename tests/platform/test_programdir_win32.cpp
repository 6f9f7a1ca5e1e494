#include "platform/detail_win32.h" // <windows.h> without the macros that clash with ours

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/programdir.h"
#include "platform/workingdirs.h"
#include "support/buildpaths.h"
#include "support/tempdir.h"

// Where a Windows copy keeps its cache, and which instance directories its clients work in.
namespace vantrel::test {
namespace {

using namespace vantrel::platform;

std::string Backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

TEST(ProgramLocationWin32, PortableBesideTheExecutableInstalledInLocalAppData) {
    TempDir root;
    MakeDirs(root / "portable");
    MakeDirs(root / "Program Files/Vantrel");
    MakeDirs(root / "Local");
    ScopedEnv programFiles("ProgramFiles", Backslashed(root / "Program Files"));
    ScopedEnv localAppData("LOCALAPPDATA", Backslashed(root / "Local"));

    ProgramLocation portable = ResolveProgramLocation("vantrel.exe", Backslashed(root / "portable/vantrel.exe"));
    EXPECT_EQ(portable.directory, Backslashed(root / "portable"));
    EXPECT_EQ(portable.fileName, "vantrel.exe");
    EXPECT_TRUE(ListDirectory(root / "portable").empty()); // the write probe left nothing behind

    // Under Program Files, whatever the case of its name: the user's local application data.
    std::string installed = Backslashed(root / "PROGRAM FILES/Vantrel/Vantrel.exe");
    ProgramLocation location = ResolveProgramLocation("Vantrel.exe", installed);
    EXPECT_EQ(location.directory, Backslashed(root / "Local/Vantrel"));
    EXPECT_EQ(location.fileName, "Vantrel.exe");
    EXPECT_TRUE(IsDirectory(location.directory));

    ScopedEnv forced("VANTREL_PROGRAM_DIR", Backslashed(root / "elsewhere") + "\\");
    EXPECT_EQ(ResolveProgramLocation("vantrel.exe", installed).directory, Backslashed(root / "elsewhere"));
}

TEST(WorkingDirectoriesWin32, InstancesWithAClientWorkingInThemOrBelow) {
    TempDir dir;
    MakeDirs(dir / "2");
    MakeDirs(dir / "5/sub");
    MakeDirs(dir / "7");
    ProcessHandle two = StartProcess({{test::build::kTreeChild, "sleep"}, dir / "2", "ORVA 2", SW_HIDE});
    ProcessHandle five = StartProcess({{test::build::kTreeChild, "sleep"}, dir / "5/sub", "ORVA 5", SW_HIDE});
    ASSERT_TRUE(two.IsValid());
    ASSERT_TRUE(five.IsValid());
    EXPECT_EQ(EntriesInUseAsWorkingDirectory(dir.Path()), (std::vector<std::string>{"2", "5"}));
    EXPECT_EQ(EntriesInUseAsWorkingDirectory(dir / "5"), std::vector<std::string>{"sub"});
    two.Terminate();
    five.Terminate();
    ASSERT_TRUE(two.WaitForExit(std::chrono::seconds(60)));
    ASSERT_TRUE(five.WaitForExit(std::chrono::seconds(60)));
    EXPECT_TRUE(EntriesInUseAsWorkingDirectory(dir.Path()).empty());
    EXPECT_TRUE(EntriesInUseAsWorkingDirectory(dir / "missing").empty());
}

} // namespace
} // namespace vantrel::test
