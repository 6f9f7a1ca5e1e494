// How long the statistics window takes to show a log: from opening the window on a log of 10,000
// and of 100,000 rows (a year of results) to the chart drawn, offscreen, wall-clock time. The log
// is read on the window's worker thread; the chart is built and painted on the dialog's thread.
#include <benchmark/benchmark.h>
#include <QApplication>
#include <QChartView>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_data_support.h"
#include "support/samplelog.h"
#include "ui/clientchooser.h"
#include "ui/statisticswnd.h"

namespace {

using namespace vantrel;

void BM_OpenStatisticsWindow(benchmark::State& state) {
    bench::BenchDir dir;
    test::SampleLogShape shape;
    shape.rows = static_cast<std::uint32_t>(state.range(0));
    {
        std::ofstream log(dir.Path() + "/ORVALog.csv", std::ios::binary);
        log << test::SampleLogText(shape);
    }
    CQtUserPrompts prompts;
    for (auto _ : state) {
        CStatisticsWnd window(dir.Path(), prompts);
        QEventLoop loop;
        QObject::connect(&window, &CStatisticsWnd::statisticsShown, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        window.show();
        loop.exec();
        QChartView* view = window.findChild<QChartView*>();
        if (window.IsLoading() || view == nullptr) {
            state.SkipWithError("the window never showed the log");
            break;
        }
        benchmark::DoNotOptimize(view->grab());
    }
}

BENCHMARK(BM_OpenStatisticsWindow)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return vantrel::bench::RunBenchmarks(argc, argv);
}
