#include "core/configfile.h"
#include "core/configuration.h"
#include "platform/fileops.h"
#include "support/tempdir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Saving the configuration as Linux sees it: owner-only permissions, and a full disk made with a
// file-size limit.
namespace vantrel {
namespace {

TEST(ConfigurationFile, SavedFileIsForItsOwnerOnlyAndFailureKeepsTheOld) {
    test::TempDir dir;
    std::string path = dir / "vantrel.cfg";
    test::WriteFile(path, "-auto\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    COptions options;
    options.MaxProcesses = 2;
    options.CreateLog = true;
    ASSERT_TRUE(SaveConfiguration(path, options, false, 2));
    EXPECT_EQ(test::ReadFile(path), "-ORVALog\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_FALSE(SaveConfiguration("", options, false, 2));
    EXPECT_FALSE(SaveConfiguration(dir / "missing/vantrel.cfg", options, false, 2));

    // A full disk, made by a file-size limit in a child: the write fails part-way.
    options.ServerMode = SM_SOCKS;
    options.ServerHost = "H";
    options.SocksPassword = std::string(100000, 'p');
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = 4096;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(SaveConfiguration(path, options, false, 2) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failed save reported success";
    EXPECT_EQ(test::ReadFile(path), "-ORVALog\r\n");
    EXPECT_EQ(platform::ListDirectory(dir.Path()).size(), 1u); // no temporary file left beside it
}

// Whatever is saved reads back to options that save to the same file.

} // namespace
} // namespace vantrel
