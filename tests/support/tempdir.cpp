#include "support/tempdir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <random>
#include <stdexcept>

namespace vantrel::test {

TempDir::TempDir(const std::string& under) {
    std::filesystem::path base = under.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(under);
    // A random name made exclusively: create_directory answers false when the name was taken.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = base / ("vantrel-test-" + std::to_string(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            m_path = candidate.string();
            return;
        }
        if (ec)
            break;
    }
    throw std::runtime_error("cannot make a temp directory under " + base.string());
}

TempDir::~TempDir() {
    std::error_code ec;
    // remove_all removes symbolic links themselves, never their targets.
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::operator/(std::string_view name) const {
    // The system's own separator, also inside name: paths compare equal to the ones the program makes.
    return (std::filesystem::path(m_path) / std::string(name)).make_preferred().string();
}

void WriteFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void MakeDirs(const std::string& path) {
    std::filesystem::create_directories(path);
}

long long UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_days date = year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
    return (date.time_since_epoch() + hours{hour} + minutes{minute} + seconds{second}) / 1s;
}

void SetMTime(const std::string& path, long long seconds) {
    using Clock = std::filesystem::file_time_type::clock;
    std::error_code ec;
    std::filesystem::last_write_time(path, Clock::from_sys(std::chrono::sys_seconds{std::chrono::seconds{seconds}}),
                                     ec);
    if (ec)
        throw std::runtime_error("cannot set time of " + path);
}

} // namespace vantrel::test
