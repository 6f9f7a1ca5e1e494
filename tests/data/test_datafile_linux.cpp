#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>

#include "data/datafile.h"
#include "data/filehandle.h"
#include "support/tempdir.h"

namespace vantrel {
namespace {

using test::TempDir;
using Status = CLineReader::ReadStatus;

TEST(LineReader, ReportsAReadErrorInsteadOfAnEnd) {
    TempDir dir;
    // A descriptor that cannot be read from (opened for writing only).
    int fd = ::open((dir / "w.orv").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    CFileHandle file = CFileHandle::FromNativeHandle(fd);
    CLineReader reader(file);
    std::string line;
    EXPECT_EQ(reader.ReadLine(line), Status::Error);
}

} // namespace
} // namespace vantrel
