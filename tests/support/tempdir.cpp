#include "support/tempdir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <utime.h>

namespace vantrel::test {

TempDir::TempDir(const std::string& under) {
    std::filesystem::path base = under.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(under);
    std::string pattern = (base / "vantrel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // remove_all removes symbolic links themselves, never their targets.
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::operator/(std::string_view name) const {
    return m_path + "/" + std::string(name);
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

void SetMTime(const std::string& path, long long seconds) {
    struct utimbuf times {};
    times.actime = static_cast<time_t>(seconds);
    times.modtime = static_cast<time_t>(seconds);
    if (utime(path.c_str(), &times) != 0)
        throw std::runtime_error("cannot set time of " + path);
}

} // namespace vantrel::test
