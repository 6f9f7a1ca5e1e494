#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// The CSV result log's columns and field texts.
namespace vantrel {

inline constexpr std::size_t kLogColumnCount = 84;

// The header names, in column order.
// clang-format off
inline constexpr std::array<std::string_view, kLogColumnCount> kLogColumnNames = {
    "date", "id", "key", "email_addr", "user_name", "url",
    "country", "postal_code", "show_name", "show_email", "venue", "register_time",
    "last_wu_time", "last_result_time", "nwus", "nresults", "total_cpu", "params_index",
    "task", "version", "name", "data_type", "data_class", "splitter_version",
    "start_ra", "start_dec", "end_ra", "end_dec", "angle_range", "time_recorded",
    "subband_center", "subband_base", "subband_sample_rate", "fft_len", "ifft_len", "subband_number",
    "receiver", "nsamples", "tape_version", "ncfft", "cr", "fl",
    "cpu", "prog", "bs_power", "bs_score", "bs_bin", "bs_fft_ind",
    "bs_chirp_rate", "bs_fft_len", "bg_score", "bg_power", "bg_chisq", "bg_bin",
    "bg_fft_ind", "bg_chirp_rate", "bg_fft_len", "bg_pot", "bp_score", "bp_power",
    "bp_mean", "bp_period", "bp_freq_bin", "bp_time_bin", "bp_chirp_rate", "bp_fft_len",
    "bp_pot", "bt_score", "bt_power", "bt_mean", "bt_period", "bt_bperiod",
    "bt_tpotind0_0", "bt_tpotind0_1", "bt_tpotind1_0", "bt_tpotind1_1", "bt_tpotind2_0", "bt_tpotind2_1",
    "bt_freq_bin", "bt_time_bin", "bt_chirp_rate", "bt_scale", "bt_fft_len", "bt_pot",
};
// clang-format on

// Column indexes that are filled from other keys than their own name.
enum ELogColumn : std::size_t {
    COL_DATE = 0,
    COL_ID = 1,
    COL_KEY = 2,
    COL_USER_NAME = 4,
    COL_NAME = 20,
    COL_CPU = 42,
};
static_assert(kLogColumnNames[COL_DATE] == "date" && kLogColumnNames[COL_ID] == "id" &&
              kLogColumnNames[COL_KEY] == "key" && kLogColumnNames[COL_USER_NAME] == "user_name" &&
              kLogColumnNames[COL_NAME] == "name" && kLogColumnNames[COL_CPU] == "cpu" &&
              kLogColumnNames.back() == "bt_pot");

// Every column name in double quotes, joined by single commas, nothing before or after.
const std::string& LogHeader();

// The field text of a value: trimmed of white space; then written in double quotes with inner
// double quotes doubled when it holds a comma, a double quote, a carriage return or a line feed,
// so every row keeps its fields in any CSV reader; otherwise bare when empty or beginning with a
// non-zero integer (12, 3.75, -4.2, a date), else in double quotes (text, 0, 0.0123, -0.5).
std::string QuoteField(std::string_view value);

// A CSV record read as RFC 4180 has it: a double quote opens a quoted field only at the start of
// a field, where a doubled one stands for itself and a single one closes it. A quote inside a bare
// field is a plain character, as in rows written by programs that do not quote.
struct CsvScan {
    std::size_t commas = 0;  // field separators; those after a quote that never closes count too
    bool open = false;       // ends inside a quoted field (goes on past a line end)
    bool wellFormed = true;  // no text between a closing quote and the next comma
};
CsvScan ScanCsvRecord(std::string_view text);

// The field separators of a record (ScanCsvRecord).
std::size_t CountUnquotedCommas(std::string_view text);

} // namespace vantrel
