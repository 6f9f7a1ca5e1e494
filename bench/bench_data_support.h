#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace vantrel::bench {

// A fresh directory under the temp directory, removed with its contents when the object goes.
class BenchDir {
public:
    BenchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~BenchDir() {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    BenchDir(const BenchDir&) = delete;
    BenchDir& operator=(const BenchDir&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace vantrel::bench
