#include <gtest/gtest.h>
#include <string>

#include "platform/fileops.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/system_linux.h"
#include "support/tempdir.h"

namespace vantrel::test {
namespace {

void WriteIn(const TempDir& root, const std::string& dir, const std::string& name, const std::string& text) {
    std::string path = root.Path();
    for (std::size_t at = 0; at != std::string::npos;) {
        std::size_t next = dir.find('/', at + 1);
        path = root.Path() + "/" + dir.substr(0, next);
        platform::MakeDirectory(path);
        at = next;
    }
    ASSERT_TRUE(platform::WriteFileAtomically(path + "/" + name, text));
}

TEST(ProcessorCount, ACgroupQuotaBoundsTheProcessorsTheProgramMayUse) {
    // cgroup v2: 1.5 processors in the service, 4 in its parent: two may run, part of the time.
    TempDir v2;
    WriteIn(v2, ".", "cgroup.controllers", "cpu memory\n");
    WriteIn(v2, "user.slice", "cpu.max", "400000 100000\n");
    WriteIn(v2, "user.slice/app.service", "cpu.max", "150000 100000\n");
    EXPECT_EQ(platform::CgroupProcessorQuota("0::/user.slice/app.service\n", v2.Path()), 2u);
    // The parent's quota bounds a child without one of its own.
    WriteIn(v2, "user.slice/free.service", "cpu.max", "max 100000\n");
    EXPECT_EQ(platform::CgroupProcessorQuota("0::/user.slice/free.service\n", v2.Path()), 4u);
    WriteIn(v2, "other", "cpu.max", "max 100000\n");
    EXPECT_EQ(platform::CgroupProcessorQuota("0::/other\n", v2.Path()), std::nullopt);

    // cgroup v1, the controllers mounted together, beside a v2 line that has no cpu.max.
    TempDir v1;
    WriteIn(v1, "cpu,cpuacct/docker/abc", "cpu.cfs_quota_us", "300000\n");
    WriteIn(v1, "cpu,cpuacct/docker/abc", "cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(platform::CgroupProcessorQuota("4:memory:/docker/abc\n3:cpu,cpuacct:/docker/abc\n0::/\n", v1.Path()),
              3u);
    WriteIn(v1, "cpu,cpuacct/docker/abc", "cpu.cfs_quota_us", "-1\n");
    EXPECT_EQ(platform::CgroupProcessorQuota("3:cpu,cpuacct:/docker/abc\n", v1.Path()), std::nullopt);
    EXPECT_EQ(platform::CgroupProcessorQuota("garbage\n\n", v1.Path()), std::nullopt);

    // This machine: never more than the processors this program may run on.
    const unsigned count = platform::GetProcessorCount();
    EXPECT_GE(count, 1u);
    EXPECT_LE(count, platform::GetOwnProcessors().size());
}

} // namespace
} // namespace vantrel::test
