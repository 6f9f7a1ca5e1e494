#pragma once

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <string>

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
        SetTimeZone("UTC0");
    }
    void TearDown() override { SetTimeZone(m_oldTz); }

    // Seconds since the epoch of a UTC calendar time.
    static std::time_t At(int year, int month, int day, int hour, int minute, int second = 0) {
        return static_cast<std::time_t>(UtcSeconds(year, month, day, hour, minute, second));
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

} // namespace vantrel::test
