#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::test {

// A fresh directory under the system's temp directory, deleted with everything in it (links are
// removed, never followed) when the object goes.
class TempDir {
public:
    // under: the directory to make it in; empty for the system's temp directory.
    explicit TempDir(const std::string& under = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(std::string_view name) const;

private:
    std::string m_path;
};

// Small file helpers for arranging a scene.
void WriteFile(const std::string& path, std::string_view content);
std::string ReadFile(const std::string& path);
void MakeDirs(const std::string& path);
// Sets the file's last-write time to seconds since the epoch.
void SetMTime(const std::string& path, long long seconds);

// Whether files carry owner, group and other permission bits (Linux); Windows has access lists,
// and a test of the bits checks them only where they exist.
bool HasPermissionBits();

// Whether this process may raise another's priority above normal (Linux: only as root).
bool MayRaiseProcessPriority();

// Sets (or, with no value, removes) an environment variable of this process.
void SetEnv(const char* name, const std::optional<std::string>& value);

// Sets (or, with no value, puts back the system's own) the time zone that local times of this
// process follow: "UTC0", a zone of the form "EST5", or one of the zone names the tests use
// (America/Los_Angeles, Asia/Kolkata, Europe/Berlin, Pacific/Auckland) on both systems.
void SetTimeZone(const std::optional<std::string>& zone);

// Whether the tests run under Wine, not on Windows itself (never on Linux): where Wine behaves
// otherwise than Windows, a test skips what only Windows can show.
bool RunsUnderWine();

// Seconds since the epoch of a UTC calendar time.
long long UtcSeconds(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// The names of this process's environment variables.
std::vector<std::string> EnvironmentNames();

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        SetEnv(name, value);
    }
    ~ScopedEnv() { SetEnv(m_name, m_old); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace vantrel::test
