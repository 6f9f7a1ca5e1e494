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

std::optional<unsigned> ParseMaxProcessesField(std::string_view text) {
    auto value = ParseNumberField(text);
    if (!value)
        return std::nullopt;
    return std::min(*value, kMaxProcessesLimit);
}

} // namespace vantrel
