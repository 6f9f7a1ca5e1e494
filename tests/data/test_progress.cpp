#include <filesystem>
#include <gtest/gtest.h>

#include "data/progress.h"
#include "platform/file.h"
#include "datatest.h"
#include "progresstest.h"

namespace vantrel {
namespace {

using test::Progress;
using test::WriteFile;

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
    EXPECT_FALSE(std::filesystem::exists(StateFile(1)));
    EXPECT_TRUE(IsEmpty(Update(7))); // no such instance directory

    test::MakeDirs(StateFile(2));
    EXPECT_TRUE(IsEmpty(Update(2)));
}

// The reader stays open between reads where that keeps no one from replacing the file (Linux);
// on Windows it is let go after each read.
const int kReadersKept = platform::OpenFileBlocksReplacement() ? 0 : 1;

TEST_F(Progress, ReaderSeesRewritesAndTruncation) {
    std::string path = StateFile(1);
    WriteFile(path, "cpu=3600\nprog=0.25\n" + std::string(200000, '#') + "\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    EXPECT_EQ(m_monitor.IsReaderOpen(), kReadersKept == 1);
    EXPECT_EQ(OpenDescriptorsOn(path), kReadersKept);

    // Rewritten in place, much shorter: the same reader reads it afresh.
    WriteFile(path, "cpu=7200\nprog=0.5\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    WriteFile(path, "cpu=60\nprog=0.5");
    EXPECT_EQ(Update(1).TotalText, "00:02");
    EXPECT_EQ(OpenDescriptorsOn(path), kReadersKept);

    // Truncated to nothing: no stale figures survive.
    WriteFile(path, "");
    ProgressFigures f = Update(1);
    EXPECT_EQ(f.Fraction, 0.0f);
    EXPECT_EQ(f.TotalText, "00:00");
}

TEST_F(Progress, AStateFileReplacedAfterAReadCanBeReplacedAndIsReadAfresh) {
    std::string path = StateFile(1);
    WriteFile(path, "cpu=3600\nprog=0.25\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    // Replaced by another file under the same name, as a client may: the rename goes through
    // (Windows would refuse it while we held the file), the new file is read, the old one let go.
    WriteFile(Instance(1) + "/state.new", "cpu=18000\nprog=0.5\n");
    std::error_code error;
    std::filesystem::rename(Instance(1) + "/state.new", path, error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(Update(1).TotalText, "10:00");
    EXPECT_EQ(OpenDescriptorsOn(path), kReadersKept);
}

TEST_F(Progress, ADeletedStateFileIsNotReadOn) {
    std::string path = StateFile(1);
    WriteFile(path, "cpu=3600\nprog=0.25\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    ASSERT_TRUE(std::filesystem::remove(path));
    if (std::filesystem::exists(path))
        GTEST_SKIP() << "this system keeps a deleted file under its name while it is open (Wine does)";
    // Nothing can be opened, and the deleted file is not read on.
    EXPECT_TRUE(IsEmpty(Update(1)));
    EXPECT_FALSE(m_monitor.IsReaderOpen());
}

TEST_F(Progress, AnotherWatchedInstanceReopensTheReader) {
    WriteFile(StateFile(1), "cpu=3600\nprog=0.25\n");
    WriteFile(StateFile(2), "cpu=3600\nprog=0.5\n");
    EXPECT_EQ(Update(1).TotalText, "04:00");
    EXPECT_EQ(Update(2).TotalText, "02:00");
    EXPECT_EQ(OpenDescriptorsOn(StateFile(1)), 0);
    EXPECT_EQ(OpenDescriptorsOn(StateFile(2)), kReadersKept);
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
