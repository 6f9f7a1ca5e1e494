#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The option text that the command line and the configuration file share, and the numbers in it.
// Everything here is pure text handling; nothing touches a file or a window.
namespace vantrel {

// The toolkit's refusal of a numeric field that is not a non-negative whole number.
inline constexpr const char* kPositiveIntegerMessage = "Please enter a positive integer.";

// Space, tab and the line-end characters.
bool IsOptionWhiteSpace(char c);

// text without leading and trailing white space.
std::string_view TrimOptionWhiteSpace(std::string_view text);

// Upper-cases ASCII letters only, so the length and every position stay the same.
std::string ToUpperAscii(std::string_view text);

// Canonical spacing of the collected option text: words separated by exactly one space (a tab
// that does not follow a space stays), no white space at either end, and a colon followed
// directly by the next word unless that word begins with "-". Linear in the length of text.
std::string NormalizeOptionText(std::string_view text);

// Where the value of a keyword lies in text: the word after the first occurrence of the trimmed
// keyword and one space, up to the next space or tab (or the end). Empty when "keyword " does not
// occur. The span lets a value found in the upper-cased copy be taken from the text as written.
struct OptionValueSpan {
    std::size_t pos = 0;
    std::size_t length = 0;
};
std::optional<OptionValueSpan> FindOptionValue(std::string_view text, std::string_view keyword);

// The value that follows keyword in text; empty when there is none.
std::string GetOptionValue(std::string_view text, std::string_view keyword);

// Every keyword the option text is searched for, upper-cased.
inline constexpr const char* kOptionKeywords[] = {
    "-DISPLAYTRANSMIT", "-AUTO",    "-MIN",    "-24HR",   "-NOHIDE",       "-CPU",        "-AFFINITY",
    "-VERBOSE",         "-SPY",     "-ORVASPY", "-ORVALOG", "-PROXY",       "-SOCKS_SERVER", "-SOCKS_USER",
    "-SOCKS_PASSWD",    "-RUNNORMAL", "-RUNHIGH"};

// A value as the configuration file holds it after its keyword. A value that would not read back
// whole (it holds white space, a double quote, a keyword in any case, or a colon before a "-") is
// written in double quotes, with a double quote inside written \" and a backslash \\. Any other
// value is written as it is, exactly as files have always held it.
std::string QuoteOptionValue(std::string_view value);

// The collected option text with every double-quoted value (a word that begins with a double
// quote, up to the next double quote that no backslash escapes) replaced by a stand-in "N", N
// the value's index in values: its blanks, quotes and keywords then neither split it nor set an
// option. A quote without its closing quote is left as written.
struct QuotedOptionText {
    std::string text;
    std::vector<std::string> values; // unescaped
};
QuotedOptionText ExtractQuotedValues(std::string_view text);

// A value found in the text ExtractQuotedValues made: the quoted value its stand-in names, or the
// value itself.
std::string ResolveQuotedValue(std::string_view found, const std::vector<std::string>& values);

// "host:port" when useColon and port is not 0, "host:" when useColon and port is 0, else host.
std::string FormatHostSpec(std::string_view host, unsigned port, bool useColon);

// The leading signed decimal number of text, the way "%d" scans it: white space skipped, an
// optional sign, then the digits up to the first other character ("3x" is 3). Beyond the range
// of long long the value saturates, so a huge number never overflows. Empty without a digit.
std::optional<long long> ReadSignedDecimal(std::string_view text);

// The rule of the dialog's numeric fields: decimal digits alone, spaces around them allowed, the
// value fitting 32 bits. Anything else (empty, a sign, a fraction, too large) is refused: the
// caller shows kPositiveIntegerMessage and keeps the earlier value.
std::optional<unsigned> ParseNumberField(std::string_view text);

// The "Maximum Processes:" field: the same rule, a larger number clamped to kMaxProcessesLimit
// (the field then shows the limit), as the "-cpu" keyword is.
std::optional<unsigned> ParseMaxProcessesField(std::string_view text);

// The "Desired Cache Size:" field: the same rule, a larger number clamped to
// kDesiredCacheSizeLimit (the field then shows the limit).
std::optional<unsigned> ParseDesiredCacheSizeField(std::string_view text);

} // namespace vantrel
