#pragma once

#include "datafiles.h"

#include <ctime>
#include <string>

// What the simulated client writes into its data files: work-unit headers, result figures and
// the user's account, with a realistic mix of values (integers, fractions below 1, negative
// numbers, a text with a comma, one with a double quote) so that readers of these files meet
// every kind of field. Figures are drawn from a generator seeded with the work-unit number, so
// processing the same work unit again gives the same result.
namespace orvasim {

// Keys of the simulated client's own that nothing else reads.
inline constexpr const char* kNumberKey = "wu_number";
inline constexpr const char* kCpuNeededKey = "sim_cpu_seconds";
// Processor seconds a work unit without kCpuNeededKey needs.
inline constexpr double kDefaultCpuNeeded = 21600.0;

// The header of work unit number, as the server hands it out.
DataFile MakeWorkUnit(unsigned long number);

// The figures of the search after fraction (0 to 1) of work unit number: "ncfft=", "cr=",
// "fl=", and each group of best signals (bs_, bg_, bp_, bt_) once the search has found it.
DataFile MakeResultFigures(unsigned long number, double fraction);

// A new account, registered at now.
DataFile MakeUserInfo(std::time_t now);

// A time as the client writes it: Julian date and UTC text, "2451545.00000 (Sat Jan 01 12:00:00 2000)".
std::string JulianTime(std::time_t time);

// value with that many digits after the point.
std::string Fixed(double value, int decimals);

// The work-unit number of a data file (0 when it has none).
unsigned long WorkUnitNumber(const DataFile& file);

// The number at the start of a value ("12.5 s" gives 12.5); fallback when there is none.
double LeadingNumber(const std::string& value, double fallback);

} // namespace orvasim
