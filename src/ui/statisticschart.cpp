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

// Labels on the day axis: every day of a short span, else the first of each month (of each
// January only when that would crowd the axis).
void LabelDays(QCategoryAxis& axis, std::int32_t first, std::int32_t last) {
    const std::int32_t span = last - first + 1;
    const bool byYear = span > 3 * 366;
    for (std::int32_t day = first; day <= last; ++day) {
        const auto date = DateOf(day);
        const unsigned dayOfMonth = static_cast<unsigned>(date.day());
        const unsigned month = static_cast<unsigned>(date.month());
        QString label;
        if (span <= kDayLabelsUpTo)
            label = QString::fromStdString(FormatDay(day)).mid(5);
        else if (dayOfMonth == 1 && (!byYear || month == 1))
            label = byYear ? QString::number(static_cast<int>(date.year()))
                           : QString::fromStdString(FormatDay(day)).left(7);
        if (!label.isEmpty())
            axis.append(label, day - first);
    }
}

} // namespace

QChart* BuildStatisticsChart(const LogStatistics& statistics) {
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    if (statistics.Days.empty())
        return chart;

    const std::int32_t first = statistics.Days.front().Day;
    const std::int32_t last = statistics.Days.back().Day;
    auto* results = new QBarSet(Text(kResultsSeriesName));
    results->setColor(QColor(0x2f, 0x6f, 0xb3));
    results->setBorderColor(QColor(0x2f, 0x6f, 0xb3));
    auto* hours = new QLineSeries;
    hours->setName(Text(kHoursSeriesName));
    hours->setPen(QPen(QColor(0xe0, 0x7b, 0x1f), 2));
    std::uint32_t mostResults = 0;
    double mostHours = 0;
    auto next = statistics.Days.begin();
    for (std::int32_t day = first; day <= last; ++day) {
        if (next != statistics.Days.end() && next->Day == day) {
            results->append(next->Results);
            mostResults = std::max(mostResults, next->Results);
            if (next->TimedResults > 0) {
                hours->append(day - first, next->HoursPerResult());
                mostHours = std::max(mostHours, next->HoursPerResult());
            }
            ++next;
        } else {
            results->append(0);
        }
    }
    auto* bars = new QBarSeries;
    bars->append(results);
    bars->setBarWidth(0.9);
    chart->addSeries(bars);
    chart->addSeries(hours);

    auto* dayAxis = new QCategoryAxis;
    dayAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    dayAxis->setRange(-0.5, (last - first) + 0.5);
    dayAxis->setStartValue(-0.5);
    dayAxis->setGridLineVisible(false);
    LabelDays(*dayAxis, first, last);
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
