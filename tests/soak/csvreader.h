#pragma once

#include <string>
#include <string_view>
#include <vector>

// A strict RFC 4180 reader for checking the result log as any spreadsheet would read it.
namespace vantrel::soak {

using CsvRecord = std::vector<std::string>;

struct CsvDocument {
    std::vector<CsvRecord> records;
    // Empty when the whole text is well-formed; otherwise what is wrong and on which record.
    std::string error;
};

// Records end with CR LF or LF; the last one may end without. A field in double quotes may hold
// commas, line ends and doubled quotes; a quote anywhere else (inside a bare field, or not
// followed by a comma or a line end after a quoted field) and an unclosed quote are errors,
// since a reader would split such a row differently from the writer.
CsvDocument ReadCsv(std::string_view text);

} // namespace vantrel::soak
