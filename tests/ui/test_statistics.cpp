// The statistics window: read off the dialog's thread, drawn from the log (and its backups when
// asked), following new rows, never writing the log; its chart saved and copied.
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <gtest/gtest.h>

#include "data/logstatistics.h"
#include "data/resultlog.h"
#include "support/samplelog.h"
#include "test_dialog_support.h"
#include "ui/statisticschart.h"
#include "ui/statisticswnd.h"
#include "control/trayrules.h"

namespace vantrel {
namespace {

using test::WaitUntil;

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

// The sum of the bars and the number of points of the line.
struct ChartFigures {
    double results = 0;
    int bars = 0;
    int linePoints = 0;
};

ChartFigures FiguresOf(QChart* chart) {
    ChartFigures figures;
    for (QAbstractSeries* series : chart->series()) {
        if (auto* bars = qobject_cast<QBarSeries*>(series)) {
            for (QBarSet* set : bars->barSets()) {
                figures.bars += set->count();
                for (int i = 0; i < set->count(); ++i)
                    figures.results += set->at(i);
            }
        } else if (auto* line = qobject_cast<QLineSeries*>(series)) {
            figures.linePoints += line->count();
        }
    }
    return figures;
}

class StatisticsTest : public ::testing::Test {
protected:
    std::string Log() const { return dir / "ORVALog.csv"; }
    std::unique_ptr<CStatisticsWnd> Open() {
        // A fixed "today": the last day of the sample year.
        auto window = std::make_unique<CStatisticsWnd>(dir.Path(), prompts, nullptr, [] {
            return static_cast<std::time_t>(DayOf(2025, 12, 31)) * 86400 + 12 * 3600;
        });
        return window;
    }
    static bool Loaded(const CStatisticsWnd& window) { return !window.IsLoading(); }

    test::TempDir dir;
    test::CPresetPrompts prompts;
};

TEST_F(StatisticsTest, ShowsTheLogReadOffTheDialogsThreadAndFollowsNewRows) {
    test::SampleLogShape shape;
    shape.rows = 3000;
    const std::string text = test::SampleLogText(shape);
    test::WriteFile(Log(), text);

    std::unique_ptr<CStatisticsWnd> window = Open();
    // Nothing is read before the dialog's thread gets back to its events.
    EXPECT_TRUE(window->IsLoading());
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("status"))->text(), Text("Reading ORVALog.csv ..."));
    ASSERT_TRUE(WaitUntil([&] { return Loaded(*window); }));

    const LogStatistics& stats = window->Statistics();
    EXPECT_EQ(stats.Results, 3000u);
    EXPECT_EQ(window->TotalText(Text("Results")), Text("3000"));
    EXPECT_EQ(window->TotalText(Text("First result")), QString::fromStdString(FormatLogTime(*stats.First)));
    EXPECT_EQ(window->TotalText(Text("Processor hours")), QString::number(stats.CpuSeconds / 3600, 'f', 1));
    EXPECT_EQ(window->TotalText(Text("Average per day, last 7 days")),
              QString::number(stats.AveragePerDay(DayOf(2025, 12, 31), 7), 'f', 2));
    EXPECT_EQ(window->StatusText(), Text("3000 results from ORVALog.csv."));
    ChartFigures figures = FiguresOf(window->Chart());
    EXPECT_EQ(figures.results, 3000);
    EXPECT_EQ(figures.bars, stats.Days.back().Day - stats.Days.front().Day + 1) << "a bar for every day";
    EXPECT_EQ(figures.linePoints, static_cast<int>(stats.Days.size()));

    // A new row, as the transmit pass appends it: the window follows.
    ASSERT_TRUE(AppendToLog(Log(), test::SampleLogRow({DayOf(2025, 12, 31), 86399}, "late", 3600, 9)));
    ASSERT_TRUE(WaitUntil([&] { return window->Statistics().Results == 3001; }));
    EXPECT_EQ(window->TotalText(Text("Last result")), Text("2025.12.31 23:59:59"));
    // The log is only read.
    EXPECT_EQ(test::ReadFile(Log()).substr(0, text.size()), text);
}

TEST_F(StatisticsTest, ShowsWhatItCouldReadCountsTheRestAndAddsBackupsWhenAsked) {
    // An old log with one unreadable row, upgraded by the writer: its rows now also lie in the
    // backup.
    test::WriteFile(Log(), "\"date\",\"name\",\"cpu\"\r\n"
                           "2025.06.01 10:00:00,\"first\",3600\r\n"
                           "2025.06.01 11:00:00,\"a \"bad\" one\",3600\r\n"
                           "2025.06.02 10:00:00,\"second\",7200");
    ASSERT_TRUE(AppendToLog(Log(), test::SampleLogRow({DayOf(2025, 6, 3), 0}, "third", 3600, 1)));

    std::unique_ptr<CStatisticsWnd> window = Open();
    ASSERT_TRUE(WaitUntil([&] { return Loaded(*window); }));
    EXPECT_EQ(window->Statistics().Results, 3u);
    EXPECT_EQ(window->StatusText(), Text("3 results from ORVALog.csv. Skipped 1 row that could not be read."));

    auto* backups = window->findChild<QCheckBox*>(QStringLiteral("includeBackups"));
    ASSERT_NE(backups, nullptr);
    backups->click();
    ASSERT_TRUE(WaitUntil([&] { return Loaded(*window) && window->Statistics().FilesRead.size() == 2; }));
    EXPECT_EQ(window->Statistics().Results, 3u) << "the backup's rows are the log's";
    EXPECT_EQ(window->StatusText(), Text("3 results from Backup of ORVALog.csv, ORVALog.csv. Skipped 2 rows that "
                                         "could not be read."));
    // Read under its own header, the old log gives the processor times the upgraded one lost.
    EXPECT_DOUBLE_EQ(window->Statistics().CpuSeconds, 3600 + 7200 + 3600);

    // No log at all.
    test::TempDir empty;
    CStatisticsWnd none(empty.Path(), prompts);
    ASSERT_TRUE(WaitUntil([&] { return Loaded(none); }));
    EXPECT_TRUE(none.StatusText().startsWith(Text("No result log yet")));
    EXPECT_TRUE(none.TotalText(Text("First result")).isEmpty());
    EXPECT_FALSE(none.findChild<QPushButton*>(QStringLiteral("saveAsPng"))->isEnabled());
}

TEST_F(StatisticsTest, SavesTheChartAsPngAndCopiesItsDataAsCsv) {
    test::SampleLogShape shape;
    shape.rows = 200;
    shape.days = 20;
    test::WriteFile(Log(), test::SampleLogText(shape));
    std::unique_ptr<CStatisticsWnd> window = Open();
    ASSERT_TRUE(WaitUntil([&] { return Loaded(*window); }));

    const std::string png = dir / "chart";
    prompts.fileAnswers.push_back(QString::fromStdString(png));
    window->findChild<QPushButton*>(QStringLiteral("saveAsPng"))->click();
    ASSERT_EQ(prompts.questions.size(), 1u);
    QImage image(QString::fromStdString(png + ".png"));
    EXPECT_FALSE(image.isNull()) << "saved with the extension added";
    EXPECT_GT(image.width(), 100);

    // A place that cannot be written is said so.
    prompts.fileAnswers.push_back(QString::fromStdString(dir / "missing/chart.png"));
    window->findChild<QPushButton*>(QStringLiteral("saveAsPng"))->click();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].kind, EMessageKind::Error);

    window->findChild<QPushButton*>(QStringLiteral("copyAsCsv"))->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(FormatStatisticsCsv(window->Statistics())));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(Text("day,results,processor hours per result\r\n")));
}

TEST(StatisticsWindow, OpensFromTheTrayMenuAndTheWindowMenuAsOneWindow) {
    test::DialogScene scene;
    scene.Init();
    EXPECT_EQ(scene.dialog->StatisticsWindow(), nullptr);
    scene.dialog->OnTrayCommand(ID_SYSTRAY_STATISTICS);
    CStatisticsWnd* window = scene.dialog->StatisticsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->windowTitle(), Text(kStatisticsTitle));
    window->close();
    scene.dialog->OnSysCommand(kStatisticsCommand);
    EXPECT_EQ(scene.dialog->StatisticsWindow(), window);
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return !window->IsLoading(); }));
}

} // namespace
} // namespace vantrel
