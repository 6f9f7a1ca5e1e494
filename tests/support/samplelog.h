#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "data/logformat.h"
#include "data/logstatistics.h"

// A result log as the program writes it, for tests and benchmarks: the header, then rows with
// every column filled the way a real result fills them, through the log's own field quoting.
namespace vantrel::test {

struct SampleLogShape {
    std::uint32_t rows = 1000;
    std::int32_t firstDay = DayOf(2025, 1, 1);
    std::uint32_t days = 365;     // the rows are spread over this many days
    std::uint32_t seed = 20250101; // the same seed gives the same log
};

// One row: date (the log's own format), work-unit name and processor seconds where the writer
// puts them, and plausible text and figures elsewhere.
inline std::string SampleLogRow(const LogTime& when, const std::string& name, double cpuSeconds,
                                std::uint32_t serial) {
    std::string row = QuoteField(FormatLogTime(when));
    char number[64];
    for (std::size_t column = 1; column < kLogColumnCount; ++column) {
        std::string value;
        if (column == COL_NAME) {
            value = name;
        } else if (column == COL_CPU) {
            std::snprintf(number, sizeof number, "%.6f", cpuSeconds);
            value = number;
        } else if (column == 3) {
            value = "volunteer@example.org";
        } else if (column == COL_USER_NAME) {
            value = "Volunteer, A.";
        } else if (column % 4 == 0) {
            value = std::to_string(serial % 9973 + column);
        } else {
            std::snprintf(number, sizeof number, "%.6f", static_cast<double>((serial * 31 + column) % 1000) / 997.0);
            value = number;
        }
        row += ',';
        row += QuoteField(value);
    }
    return row;
}

// The whole log: the header and shape.rows rows, oldest first, CR LF between lines and none after
// the last, as the writer leaves it. Some days bring more results than others (a monthly swing
// and chance), and processor times change with the seasons, so a chart of it has something to
// show.
inline std::string SampleLogText(const SampleLogShape& shape) {
    std::minstd_rand random(shape.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> weights(shape.days);
    for (std::uint32_t day = 0; day < shape.days; ++day)
        weights[day] = 0.4 + unit(random) + 0.4 * std::sin(6.283185307 * day / 30.0);
    std::discrete_distribution<std::uint32_t> pickDay(weights.begin(), weights.end());
    std::vector<LogTime> times(shape.rows);
    for (LogTime& time : times)
        time = {shape.firstDay + static_cast<std::int32_t>(pickDay(random)),
                static_cast<std::int32_t>(unit(random) * 86400) % 86400};
    std::sort(times.begin(), times.end());

    std::string text = LogHeader();
    for (std::uint32_t i = 0; i < shape.rows; ++i) {
        const std::int32_t dayOffset = times[i].Day - shape.firstDay;
        const double season = 1.0 + 0.25 * static_cast<double>((dayOffset / 30) % 4);
        const double cpuSeconds = (3.0 + 1.5 * unit(random)) * 3600.0 * season;
        char name[64];
        std::snprintf(name, sizeof name, "orva_wu_%07u.%u", i + 1, shape.seed % 1000);
        text += "\r\n";
        text += SampleLogRow(times[i], name, cpuSeconds, i);
    }
    return text;
}

} // namespace vantrel::test
