#include <gtest/gtest.h>

#include "packagingtest.h"
#include "platform/process_detail_linux.h"
#include "support/buildpaths.h"
#include "support/tempdir.h"

namespace vantrel::test {

namespace {

const std::string kDesktopFile = std::string(test::build::kSourceDir) + "/packaging/vantrel.desktop";

} // namespace

// Hints (such as two main categories) are advice; errors and warnings are not accepted.
TEST(DesktopEntry, PassesDesktopFileValidateWhichRefusesABrokenEntry) {
    const std::string validate = platform::detail::FindOnPath("desktop-file-validate");
    if (validate.empty())
        GTEST_SKIP() << "desktop-file-validate is not installed (Debian package desktop-file-utils)";
    TempDir dir;

    CommandResult result = RunCommand({validate, kDesktopFile}, dir.Path());
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output.find("error:"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("warning:"), std::string::npos) << result.output;

    // The same entry without its Type key must be refused, or the check above proves nothing.
    std::string broken = ReadFile(kDesktopFile);
    std::size_t type = broken.find("Type=Application\n");
    ASSERT_NE(type, std::string::npos);
    broken.erase(type, std::string("Type=Application\n").size());
    WriteFile(dir / "vantrel.desktop", broken);
    EXPECT_NE(RunCommand({validate, dir / "vantrel.desktop"}, dir.Path()).exitCode, 0);
}

} // namespace vantrel::test
