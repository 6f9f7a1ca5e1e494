#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fileops.h"
#include "platform/programdir.h"
#include "support/tempdir.h"

namespace vantrel::test {
namespace {

using platform::ResolveProgramLocation;

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(ProgramLocation, PortableCopyKeepsItsCacheBesideItself) {
    ScopedEnv forced("VANTREL_PROGRAM_DIR", nullptr);
    TempDir dir;
    auto location = ResolveProgramLocation(dir / "vantrel", dir / "vantrel");
    EXPECT_EQ(location.directory, dir.Path());
    EXPECT_EQ(location.fileName, "vantrel");
    // Started as ./vantrel from its folder: the folder is named as it is, not as "dir/.".
    std::filesystem::path was = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    location = ResolveProgramLocation("./vantrel", dir / "vantrel");
    std::filesystem::current_path(was);
    EXPECT_EQ(location.directory, dir.Path());
}

TEST(ProgramLocation, InstalledCopyUsesTheUsersDataDirectoryNeverUsr) {
    ScopedEnv forced("VANTREL_PROGRAM_DIR", nullptr);
    TempDir data;
    ScopedEnv xdg("XDG_DATA_HOME", (data / "share").c_str());
    auto location = ResolveProgramLocation("vantrel", "/usr/bin/vantrel");
    EXPECT_EQ(location.directory, data / "share/vantrel");
    EXPECT_EQ(location.fileName, "vantrel");
    struct stat st {};
    ASSERT_EQ(stat(location.directory.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(ProgramLocation, WithoutAHomeOrWithAnUnsafeDataDirectoryNoDirectoryIsGiven) {
    ScopedEnv forced("VANTREL_PROGRAM_DIR", nullptr);
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    // A data directory that others may write is refused, whoever made it.
    TempDir home;
    ASSERT_TRUE(platform::MakeDirectory(home / ".local"));
    ASSERT_TRUE(platform::MakeDirectory(home / ".local/share"));
    ASSERT_TRUE(platform::MakeDirectory(home / ".local/share/vantrel"));
    ASSERT_EQ(chmod((home / ".local/share/vantrel").c_str(), 0777), 0);
    {
        ScopedEnv homeEnv("HOME", home.Path().c_str());
        EXPECT_EQ(ResolveProgramLocation("vantrel", "/usr/bin/vantrel").directory, "");
        ASSERT_EQ(chmod((home / ".local/share/vantrel").c_str(), 0700), 0);
        EXPECT_EQ(ResolveProgramLocation("vantrel", "/usr/bin/vantrel").directory, home / ".local/share/vantrel");
    }

    // Without HOME the password database's home is used; a user whose home does not exist (nobody:
    // /nonexistent) gets none, never a shared folder such as /tmp/vantrel.
    ScopedEnv noHome("HOME", nullptr);
    if (geteuid() != 0)
        GTEST_SKIP() << "becoming another user needs root";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        auto location = ResolveProgramLocation("vantrel", "/usr/bin/vantrel");
        _exit(location.directory.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a directory was given to a user without a home";
}

TEST(ProgramLocation, ALinkInTheUsersDirectoryMakesThatThePrograms) {
    ScopedEnv forced("VANTREL_PROGRAM_DIR", nullptr);
    TempDir home;
    ASSERT_EQ(symlink("/usr/bin/vantrel", (home / "Vantrel").c_str()), 0);
    auto location = ResolveProgramLocation(home / "Vantrel", "/usr/bin/vantrel");
    EXPECT_EQ(location.directory, home.Path());
    EXPECT_EQ(location.fileName, "Vantrel");

    ScopedEnv named("VANTREL_PROGRAM_DIR", (home.Path() + "/cache/").c_str());
    EXPECT_EQ(ResolveProgramLocation(home / "Vantrel", "/usr/bin/vantrel").directory, home / "cache");
}

} // namespace
} // namespace vantrel::test
