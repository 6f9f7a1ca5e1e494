#include "core/optiontext.h"

#include "core/options.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace vantrel {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n";

// Index of the first character at or after from that is not white space.
std::size_t SkipWhiteSpace(std::string_view text, std::size_t from) {
    while (from < text.size() && IsOptionWhiteSpace(text[from]))
        ++from;
    return from;
}

void TrimRight(std::string& text) {
    while (!text.empty() && IsOptionWhiteSpace(text.back()))
        text.pop_back();
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Words separated by one space. Only a space ends a word; the white space after it is dropped.
std::string SpaceWords(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t at = SkipWhiteSpace(text, 0);
    for (;;) {
        std::size_t space = text.find(' ', at);
        if (space == std::string_view::npos)
            break;
        result.append(text.substr(at, space - at));
        result.push_back(' ');
        at = SkipWhiteSpace(text, space + 1);
    }
    result.append(text.substr(at));
    return result;
}

// A colon runs straight into the next word, except that an option after it keeps one space, so
// "host: 8080" reads as one value while "host: -auto" stays two words.
std::string JoinAtColons(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t at = 0;
    for (;;) {
        std::size_t colon = text.find(':', at);
        if (colon == std::string_view::npos)
            break;
        result.append(text.substr(at, colon + 1 - at));
        at = SkipWhiteSpace(text, colon + 1);
        if (at < text.size() && text[at] == '-')
            result.push_back(' ');
    }
    TrimRight(result);
    std::string_view rest = text.substr(at);
    // Nothing before the rest: no space to separate it from.
    if (!result.empty() && !rest.empty() && rest.front() == '-')
        result.push_back(' ');
    result.append(rest);
    TrimRight(result);
    return result;
}

} // namespace

bool IsOptionWhiteSpace(char c) {
    return kWhiteSpace.find(c) != std::string_view::npos;
}

std::string_view TrimOptionWhiteSpace(std::string_view text) {
    std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last + 1 - first);
}

std::string ToUpperAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

std::string NormalizeOptionText(std::string_view text) {
    return JoinAtColons(SpaceWords(text));
}

std::optional<OptionValueSpan> FindOptionValue(std::string_view text, std::string_view keyword) {
    keyword = TrimOptionWhiteSpace(keyword);
    if (keyword.empty())
        return std::nullopt;
    std::string pattern(keyword);
    pattern.push_back(' ');
    std::size_t found = text.find(pattern);
    if (found == std::string_view::npos)
        return std::nullopt;
    std::size_t start = found + pattern.size();
    std::size_t end = text.find_first_of(" \t", start);
    if (end == std::string_view::npos)
        end = text.size();
    return OptionValueSpan{start, end - start};
}

std::string GetOptionValue(std::string_view text, std::string_view keyword) {
    auto span = FindOptionValue(text, keyword);
    if (!span)
        return {};
    return std::string(text.substr(span->pos, span->length));
}

std::string FormatHostSpec(std::string_view host, unsigned port, bool useColon) {
    std::string hostSpec(host);
    if (!useColon)
        return hostSpec;
    hostSpec.push_back(':');
    if (port != 0)
        hostSpec += std::to_string(port);
    return hostSpec;
}

std::optional<long long> ReadSignedDecimal(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (IsOptionWhiteSpace(text[at]) || text[at] == '\v' || text[at] == '\f'))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at >= text.size() || !IsDigit(text[at]))
        return std::nullopt;
    long long value = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        int digit = text[at] - '0';
        value = value > (LLONG_MAX - digit) / 10 ? LLONG_MAX : value * 10 + digit;
    }
    return negative ? -value : value;
}

namespace {

bool NeedsQuotes(std::string_view value) {
    for (char c : value)
        if (IsOptionWhiteSpace(c) || c == '"')
            return true;
    if (value.find(":-") != std::string_view::npos)
        return true;
    const std::string upper = ToUpperAscii(value);
    for (const char* keyword : kOptionKeywords)
        if (upper.find(keyword) != std::string::npos)
            return true;
    return false;
}

// Where the quoted value that opens at text[open] ends (the index of its closing quote), with its
// unescaped content; none without a closing quote.
std::optional<std::size_t> ReadQuoted(std::string_view text, std::size_t open, std::string& value) {
    value.clear();
    for (std::size_t at = open + 1; at < text.size(); ++at) {
        char c = text[at];
        if (c == '"')
            return at;
        if (c == '\\' && at + 1 < text.size() && (text[at + 1] == '"' || text[at + 1] == '\\'))
            c = text[++at];
        value.push_back(c);
    }
    return std::nullopt;
}

} // namespace

std::string QuoteOptionValue(std::string_view value) {
    if (!NeedsQuotes(value))
        return std::string(value);
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

QuotedOptionText ExtractQuotedValues(std::string_view text) {
    QuotedOptionText result;
    std::string value;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool wordStart = at == 0 || IsOptionWhiteSpace(text[at - 1]);
        std::optional<std::size_t> close;
        if (wordStart && text[at] == '"')
            close = ReadQuoted(text, at, value);
        if (!close) {
            result.text.push_back(text[at]);
            continue;
        }
        result.text += "\"" + std::to_string(result.values.size()) + "\"";
        result.values.push_back(value);
        at = *close;
    }
    return result;
}

std::string ResolveQuotedValue(std::string_view found, const std::vector<std::string>& values) {
    if (found.size() >= 3 && found.front() == '"' && found.back() == '"') {
        std::optional<long long> index = ReadSignedDecimal(found.substr(1, found.size() - 2));
        if (index && *index >= 0 && static_cast<unsigned long long>(*index) < values.size() &&
            std::to_string(*index) == found.substr(1, found.size() - 2))
            return values[static_cast<std::size_t>(*index)];
    }
    return std::string(found);
}

std::optional<unsigned> ParseNumberField(std::string_view text) {
    text = TrimOptionWhiteSpace(text);
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

namespace {

std::optional<unsigned> ParseClampedField(std::string_view text, unsigned limit) {
    auto value = ParseNumberField(text);
    if (!value)
        return std::nullopt;
    return std::min(*value, limit);
}

} // namespace

std::optional<unsigned> ParseMaxProcessesField(std::string_view text) {
    return ParseClampedField(text, kMaxProcessesLimit);
}

std::optional<unsigned> ParseDesiredCacheSizeField(std::string_view text) {
    return ParseClampedField(text, kDesiredCacheSizeLimit);
}

} // namespace vantrel
