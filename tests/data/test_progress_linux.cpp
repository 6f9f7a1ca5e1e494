#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "progresstest.h"

namespace vantrel {
namespace {

using test::Progress;
using test::WriteFile;

TEST_F(Progress, AFifoInTheStateFilesPlaceGivesTheEmptyFiguresAtOnce) {
    ASSERT_EQ(::mkfifo(StateFile(3).c_str(), 0644), 0);
    EXPECT_TRUE(IsEmpty(Update(3))); // returns at once instead of waiting for a writer
}

// Windows refuses to replace a file that is open (Wine with "access denied"), which the reader
// keeps it; where the client replaces its file, it does so on Linux.
TEST_F(Progress, AStateFileReplacedUnderTheReaderIsReadAfresh) {
    std::string path = StateFile(1);
    WriteFile(path, "cpu=3600\nprog=0.25\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    // Replaced by another file under the same name: the new one is read, the old one let go.
    WriteFile(Instance(1) + "/state.new", "cpu=18000\nprog=0.5\n");
    std::filesystem::rename(Instance(1) + "/state.new", path);
    EXPECT_EQ(Update(1).TotalText, "10:00");
    EXPECT_EQ(OpenDescriptorsOn(path), 1);
}

} // namespace
} // namespace vantrel
