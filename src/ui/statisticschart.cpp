#include "ui/statisticschart.h"

#include <QBarSeries>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QColor>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>
#include <algorithm>
#include <chrono>

namespace vantrel {

namespace {

constexpr std::int32_t kDayLabelsUpTo = 31; // a longer span is labelled by month

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

std::chrono::year_month_day DateOf(std::int32_t day) {
    return std::chrono::year_month_day{std::chrono::sys_days(std::chrono::days(day))};
}

// Labels on the day axis: every day of a short span, else the first day shown of each month (of
// each year only when that would crowd the axis). Day i of days stands at position i.
void LabelDays(QCategoryAxis& axis, const std::vector<DayTotals>& days) {
    const std::int32_t span = days.back().Day - days.front().Day + 1;
    const bool byYear = span > 3 * 366;
    for (std::size_t i = 0; i < days.size(); ++i) {
        const auto date = DateOf(days[i].Day);
        const auto before = DateOf(i == 0 ? days[i].Day - 1 : days[i - 1].Day);
        const bool newMonth = date.month() != before.month() || date.year() != before.year();
        QString label;
        if (span <= kDayLabelsUpTo)
            label = QString::fromStdString(FormatDay(days[i].Day)).mid(5);
        else if (newMonth && (!byYear || date.year() != before.year()))
            label = byYear ? QString::number(static_cast<int>(date.year()))
                           : QString::fromStdString(FormatDay(days[i].Day)).left(7);
        if (!label.isEmpty())
            axis.append(label, static_cast<qreal>(i));
    }
}

} // namespace

QChart* BuildStatisticsChart(const LogStatistics& statistics) {
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    if (statistics.Days.empty())
        return chart;

    const std::vector<DayTotals> days = ChartDays(statistics);
    auto* results = new QBarSet(Text(kResultsSeriesName));
    results->setColor(QColor(0x2f, 0x6f, 0xb3));
    results->setBorderColor(QColor(0x2f, 0x6f, 0xb3));
    auto* hours = new QLineSeries;
    hours->setName(Text(kHoursSeriesName));
    hours->setPen(QPen(QColor(0xe0, 0x7b, 0x1f), 2));
    std::uint32_t mostResults = 0;
    double mostHours = 0;
    for (std::size_t i = 0; i < days.size(); ++i) {
        results->append(days[i].Results);
        mostResults = std::max(mostResults, days[i].Results);
        if (days[i].TimedResults > 0) {
            hours->append(static_cast<qreal>(i), days[i].HoursPerResult());
            mostHours = std::max(mostHours, days[i].HoursPerResult());
        }
    }
    auto* bars = new QBarSeries;
    bars->append(results);
    bars->setBarWidth(0.9);
    chart->addSeries(bars);
    chart->addSeries(hours);

    auto* dayAxis = new QCategoryAxis;
    dayAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    dayAxis->setRange(-0.5, static_cast<qreal>(days.size()) - 0.5);
    dayAxis->setStartValue(-0.5);
    dayAxis->setGridLineVisible(false);
    LabelDays(*dayAxis, days);
    chart->addAxis(dayAxis, Qt::AlignBottom);

    auto* resultAxis = new QValueAxis;
    resultAxis->setTitleText(Text(kResultsSeriesName));
    resultAxis->setLabelFormat(QStringLiteral("%d"));
    resultAxis->setRange(0, std::max<std::uint32_t>(mostResults, 1));
    resultAxis->applyNiceNumbers();
    chart->addAxis(resultAxis, Qt::AlignLeft);

    auto* hourAxis = new QValueAxis;
    hourAxis->setTitleText(Text(kHoursSeriesName));
    hourAxis->setRange(0, mostHours > 0 ? mostHours * 1.1 : 1.0);
    hourAxis->applyNiceNumbers();
    hourAxis->setGridLineVisible(false);
    chart->addAxis(hourAxis, Qt::AlignRight);

    bars->attachAxis(dayAxis);
    bars->attachAxis(resultAxis);
    hours->attachAxis(dayAxis);
    hours->attachAxis(hourAxis);
    return chart;
}

} // namespace vantrel
