#pragma once

#include "data/logstatistics.h"

class QChart;

namespace vantrel {

inline constexpr const char* kResultsSeriesName = "Results per day";
inline constexpr const char* kHoursSeriesName = "Processor hours per result";

// The chart of the figures: one bar per day from the first result to the last (days without a
// result stay empty), the processor hours per result as a line over the days that have them, and
// the days labelled by month (by day for a short log). The caller owns the chart.
QChart* BuildStatisticsChart(const LogStatistics& statistics);

} // namespace vantrel
