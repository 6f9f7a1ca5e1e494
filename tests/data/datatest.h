#pragma once

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/cachestore.h"
#include "core/runningslots.h"
#include "support/tempdir.h"

namespace vantrel::test {

// Runs a test under UTC, so local times in expectations do not depend on the machine.
class UtcTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ"))
            m_oldTz = tz;
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    void TearDown() override {
        if (m_oldTz)
            setenv("TZ", m_oldTz->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

    // Seconds since the epoch of a UTC calendar time.
    static std::time_t At(int year, int month, int day, int hour, int minute, int second = 0) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        return timegm(&tm);
    }

private:
    std::optional<std::string> m_oldTz;
};

// A program directory in a temp directory with its cache store.
class StoreTest : public UtcTest {
protected:
    std::string Instance(std::uint32_t n) {
        std::string path = m_store.GetInstancePath(n);
        MakeDirs(path);
        return path;
    }

    TempDir m_dir;
    CRunningSlots m_slots;
    CCacheStore m_store{m_dir.Path(), "vantrel", m_slots};
};

// Runs fn in a forked child and returns its wait status; the child exits 0 when fn returns true.
// dropRoot makes a child that runs as root an ordinary user (nobody), so permissions bite.
// fileSizeLimit caps the size of files the child writes, standing in for a full disk.
template <typename Fn> int RunInChild(Fn fn, bool dropRoot = false, rlim_t fileSizeLimit = RLIM_INFINITY) {
    pid_t pid = fork();
    if (pid == 0) {
        if (dropRoot && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        if (fileSizeLimit != RLIM_INFINITY) {
            signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
            struct rlimit limit {
                fileSizeLimit, fileSizeLimit
            };
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(4);
        }
        _exit(fn() ? 0 : 1);
    }
    int status = -1;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The exit code of a child that ran normally, else -1.
inline int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace vantrel::test
