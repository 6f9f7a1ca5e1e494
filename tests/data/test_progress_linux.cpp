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

} // namespace
} // namespace vantrel
