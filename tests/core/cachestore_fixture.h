#pragma once

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "core/cachestore.h"
#include "platform/fileops.h"
#include "support/childprocess.h"
#include "support/tempdir.h"

namespace vantrel::test {

// The names in a directory, sorted.
inline std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : platform::ListDirectory(dir))
        names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

// A program directory with a store over it and helpers to arrange instance directories.
class CacheStoreTest : public ::testing::Test {
protected:
    CacheStoreTest() : store(dir.Path(), "vantrel", slots) {}

    std::string Inst(unsigned n) const { return dir / std::to_string(n); }
    std::string InstFile(unsigned n, const std::string& name) const { return platform::JoinPath(Inst(n), name); }

    void MakeInstance(unsigned n, std::initializer_list<const char*> files = {}) {
        MakeDirs(Inst(n));
        for (const char* name : files)
            WriteFile(InstFile(n, name), "x");
    }

    // A real child process holding instance n's lock file, as a running client does.
    std::unique_ptr<TestChild> LockInstance(unsigned n, const std::string& kind = "flock") {
        auto child = std::make_unique<TestChild>(LockHolderArgs(kind, InstFile(n, "lock.orv")));
        EXPECT_EQ(child->ReadLine(), "locked");
        return child;
    }

    TempDir dir;
    CRunningSlots slots;
    CCacheStore store;
};

} // namespace vantrel::test
