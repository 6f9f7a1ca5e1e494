#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data/progress.h"
#include "datatest.h"

namespace vantrel {
namespace {

using test::WriteFile;

class Progress : public test::StoreTest {
protected:
    std::string StateFile(std::uint32_t n) { return Instance(n) + "/state.orv"; }

    ProgressFigures Update(std::uint32_t n, bool use24 = false) { return m_monitor.UpdateProgress(n, use24, m_now); }

    // How many of our descriptors are open on path.
    static int OpenDescriptorsOn(const std::string& path) {
        int count = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
            std::error_code readEc;
            auto target = std::filesystem::read_symlink(entry.path(), readEc);
            if (!readEc && target == path)
                ++count;
        }
        return count;
    }

    static bool IsEmpty(const ProgressFigures& f) {
        return f.Fraction == 0.0f && f.TotalText.empty() && f.LeftText.empty() && f.CompletionText.empty();
    }

    CProgressMonitor m_monitor{m_store};
    std::time_t m_now = At(2024, 1, 21, 10, 0);
};

TEST_F(Progress, EstimatesFromCpuAndProgInEitherOrder) {
    WriteFile(StateFile(1), "prog=0.25\ncpu=3600\n");
    WriteFile(StateFile(2), "cpu=3600\r\nprog=0.25\r\n");
    for (std::uint32_t n : {1u, 2u}) {
        ProgressFigures f = Update(n);
        EXPECT_FLOAT_EQ(f.Fraction, 0.25f);
        EXPECT_EQ(f.TotalText, "04:00");
        EXPECT_EQ(f.LeftText, "03:00");
        EXPECT_EQ(f.CompletionText, "1:00 PM");
        EXPECT_EQ(Update(n, true).CompletionText, "13:00");
    }
}

TEST_F(Progress, DurationsOfDaysAndACompletionOnAnotherDay) {
    WriteFile(StateFile(1), "cpu=90000\nprog=0.5\n");
    ProgressFigures f = Update(1);
    EXPECT_EQ(f.TotalText, "2 Days  02:00");
    EXPECT_EQ(f.LeftText, "1 Day  01:00");
    EXPECT_EQ(f.CompletionText, "22nd  11:00 AM");
    f = Update(1, true);
    EXPECT_EQ(f.TotalText, "50:00");
    EXPECT_EQ(f.LeftText, "25:00");
    EXPECT_EQ(f.CompletionText, "22nd  11:00");

    // The seconds of the left time are dropped from the completion.
    WriteFile(StateFile(1), "cpu=100\nprog=0.5\n"); // left 100 s
    EXPECT_EQ(Update(1, true).CompletionText, "10:01");
}

TEST_F(Progress, OnlyExactKeysCountAndReadingStopsOnceBothAreSeen) {
    // Upper case and a leading blank do not count; a repeated key before the other overwrites.
    WriteFile(StateFile(1), "CPU=1\n cpu=2\nPROG=0.9\ncpu=10\ncpu=3600\nprog=0.5\ncpu=999999\nprog=0.01\n");
    ProgressFigures f = Update(1, true);
    EXPECT_FLOAT_EQ(f.Fraction, 0.5f);
    EXPECT_EQ(f.TotalText, "02:00");
    EXPECT_EQ(f.LeftText, "01:00");

    // A cpu line without a number counts as seen and keeps cpu at 0.
    WriteFile(StateFile(1), "cpu=n/a\nprog=0.5\ncpu=3600\n");
    f = Update(1);
    EXPECT_EQ(f.TotalText, "00:00");
    EXPECT_FLOAT_EQ(f.Fraction, 0.5f);
}

TEST_F(Progress, ZeroOrMissingProgAndProgPastTheEndShowZeroTimes) {
    // Infinite or undefined estimates read 00:00 and complete now.
    for (const char* content : {"cpu=3600\nprog=0\n", "cpu=3600\n", "prog=0\n", "", "junk\nmore junk"}) {
        WriteFile(StateFile(1), content);
        ProgressFigures f = Update(1);
        EXPECT_EQ(f.Fraction, 0.0f) << content;
        EXPECT_EQ(f.TotalText, "00:00") << content;
        EXPECT_EQ(f.LeftText, "00:00") << content;
        EXPECT_EQ(f.CompletionText, "10:00 AM") << content;
    }
    // Past 100 %: nothing is left, never a wrapped or negative time.
    WriteFile(StateFile(1), "cpu=7200\nprog=1.25\n");
    ProgressFigures f = Update(1, true);
    EXPECT_EQ(f.TotalText, "01:36");
    EXPECT_EQ(f.LeftText, "00:00");
    EXPECT_EQ(f.CompletionText, "10:00");
    // So close to 0 that the total exceeds what the day count holds: the largest count.
    WriteFile(StateFile(1), "cpu=36000\nprog=1e-9\n");
    f = Update(1);
    EXPECT_EQ(f.TotalText, "65535 Days  23:59");
    EXPECT_EQ(f.LeftText, "65535 Days  23:59");
    EXPECT_FALSE(f.CompletionText.empty());
    WriteFile(StateFile(1), "cpu=3e38\nprog=1e-40\n"); // left is far beyond a float
    EXPECT_EQ(Update(1).LeftText, "65535 Days  23:59");
}

TEST_F(Progress, NothingToReadGivesTheEmptyFiguresAndCreatesNothing) {
    // Instance 0 is the program directory: a state file there must not be read.
    WriteFile(m_dir / "state.orv", "cpu=3600\nprog=0.25\n");
    EXPECT_TRUE(IsEmpty(Update(0)));
    EXPECT_FALSE(m_monitor.IsReaderOpen());

    Instance(1);
    EXPECT_TRUE(IsEmpty(Update(1)));
    EXPECT_NE(::access(StateFile(1).c_str(), F_OK), 0);
    EXPECT_TRUE(IsEmpty(Update(7))); // no such instance directory

    test::MakeDirs(StateFile(2));
    EXPECT_TRUE(IsEmpty(Update(2)));
    ASSERT_EQ(::mkfifo(StateFile(3).c_str(), 0644), 0);
    EXPECT_TRUE(IsEmpty(Update(3))); // returns at once instead of waiting for a writer
}

TEST_F(Progress, ReaderStaysOpenAndSeesRewritesTruncationAndReplacement) {
    std::string path = StateFile(1);
    WriteFile(path, "cpu=3600\nprog=0.25\n" + std::string(200000, '#') + "\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    EXPECT_TRUE(m_monitor.IsReaderOpen());
    EXPECT_EQ(OpenDescriptorsOn(path), 1);

    // Rewritten in place, much shorter: the same reader reads it afresh.
    WriteFile(path, "cpu=7200\nprog=0.5\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    WriteFile(path, "cpu=60\nprog=0.5");
    EXPECT_EQ(Update(1).TotalText, "00:02");
    EXPECT_EQ(OpenDescriptorsOn(path), 1);

    // Truncated to nothing: no stale figures survive.
    WriteFile(path, "");
    ProgressFigures f = Update(1);
    EXPECT_EQ(f.Fraction, 0.0f);
    EXPECT_EQ(f.TotalText, "00:00");

    // Replaced by another file under the same name: the new one is read, the old one let go.
    WriteFile(Instance(1) + "/state.new", "cpu=18000\nprog=0.5\n");
    ASSERT_EQ(::rename((Instance(1) + "/state.new").c_str(), path.c_str()), 0);
    EXPECT_EQ(Update(1).TotalText, "10:00");
    EXPECT_EQ(OpenDescriptorsOn(path), 1);

    // Deleted: nothing can be opened, and the deleted file is not read on.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_TRUE(IsEmpty(Update(1)));
    EXPECT_FALSE(m_monitor.IsReaderOpen());
}

TEST_F(Progress, AnotherWatchedInstanceReopensTheReader) {
    WriteFile(StateFile(1), "cpu=3600\nprog=0.25\n");
    WriteFile(StateFile(2), "cpu=3600\nprog=0.5\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    EXPECT_EQ(Update(2).TotalText, "02:00");
    EXPECT_EQ(OpenDescriptorsOn(StateFile(1)), 0);
    EXPECT_EQ(OpenDescriptorsOn(StateFile(2)), 1);
    // Watching nothing for a while leaves the reader alone; coming back reads the file as it is.
    EXPECT_TRUE(IsEmpty(Update(0)));
    WriteFile(StateFile(2), "cpu=3600\nprog=0.75\n");
    EXPECT_FLOAT_EQ(Update(2).Fraction, 0.75f);
}

TEST_F(Progress, ReadProgressValuesStopsAtTheLineWithBothKeys) {
    // A huge tail after both keys would change the values if it were read.
    WriteFile(StateFile(1), "prog=0.5\ncpu=10\n" + std::string(3u << 20, 'x') + "\ncpu=20\n");
    std::optional<ProgressValues> v = m_monitor.ReadProgressValues(StateFile(1));
    ASSERT_TRUE(v.has_value());
    EXPECT_FLOAT_EQ(v->Cpu, 10.0f);
    EXPECT_FLOAT_EQ(v->Prog, 0.5f);
    // Keys on a line of megabytes still count.
    WriteFile(StateFile(2), "cpu=30" + std::string(2u << 20, ' ') + "\nprog=0.5");
    v = m_monitor.ReadProgressValues(StateFile(2));
    ASSERT_TRUE(v.has_value());
    EXPECT_FLOAT_EQ(v->Cpu, 30.0f);
    EXPECT_FALSE(m_monitor.ReadProgressValues(m_dir / "nowhere/state.orv").has_value());
}

} // namespace
} // namespace vantrel
