#include "data/logformat.h"

namespace vantrel {

namespace {
constexpr std::string_view kTrimmed = " \t\n\v\f\r";
constexpr std::string_view kNeedsEscaping = ",\"\r\n";

// Whether the integer at the start of text (optional sign, then digits; none counts as 0) is
// not 0, whatever its size.
bool StartsWithNonZeroInteger(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (text[i] != '0')
            return true;
    return false;
}

std::string Quoted(std::string_view text) {
    std::string field;
    field.reserve(text.size() + 2);
    field += '"';
    for (char c : text) {
        if (c == '"')
            field += '"';
        field += c;
    }
    field += '"';
    return field;
}
} // namespace

const std::string& LogHeader() {
    static const std::string header = [] {
        std::string text;
        for (std::string_view name : kLogColumnNames) {
            if (!text.empty())
                text += ',';
            text += '"';
            text += name;
            text += '"';
        }
        return text;
    }();
    return header;
}

std::string QuoteField(std::string_view value) {
    std::size_t first = value.find_first_not_of(kTrimmed);
    if (first == std::string_view::npos)
        return {};
    std::string_view text = value.substr(first, value.find_last_not_of(kTrimmed) - first + 1);
    if (text.find_first_of(kNeedsEscaping) != std::string_view::npos)
        return Quoted(text);
    if (StartsWithNonZeroInteger(text))
        return std::string(text);
    return Quoted(text);
}

CsvScan ScanCsvRecord(std::string_view text) {
    CsvScan scan;
    bool fieldStart = true;
    bool closedQuote = false;     // just after a quote that may close the quoted field
    std::size_t quotedCommas = 0; // commas inside the quoted field that is open
    for (char c : text) {
        if (scan.open) {
            if (c == '"') {
                scan.open = false;
                closedQuote = true;
            } else if (c == ',') {
                ++quotedCommas;
            }
            continue;
        }
        if (closedQuote) {
            closedQuote = false;
            if (c == '"') { // a doubled quote: the field goes on
                scan.open = true;
                continue;
            }
            quotedCommas = 0;
            if (c != ',')
                scan.wellFormed = false; // text after the closing quote is kept as it is
        }
        if (c == ',') {
            ++scan.commas;
            fieldStart = true;
        } else {
            scan.open = fieldStart && c == '"';
            fieldStart = false;
        }
    }
    // A quote that never closes is a plain character of a row written without quoting.
    if (scan.open)
        scan.commas += quotedCommas;
    return scan;
}

std::size_t CountUnquotedCommas(std::string_view text) {
    return ScanCsvRecord(text).commas;
}

} // namespace vantrel
