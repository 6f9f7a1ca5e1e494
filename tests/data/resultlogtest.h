#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <system_error>

#include "support/tempdir.h"

namespace vantrel::test {

// Whether anything, a dangling link too, has the name.
inline bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found && !ec;
}

// A row of 84 fields whose first field is tag.
inline std::string Row(const std::string& tag) {
    return tag + std::string(83, ',');
}

class ResultLog : public ::testing::Test {
protected:
    std::string LogPath() const { return m_dir / "ORVALog.csv"; }
    std::string Backup(const char* name = "Backup of ORVALog.csv") const { return m_dir / name; }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    TempDir m_dir;
};

} // namespace vantrel::test
