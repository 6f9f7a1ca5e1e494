#include "data/datafile.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace vantrel {

namespace {
constexpr std::size_t kChunkSize = 64 * 1024;

bool IsScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Length of the run of decimal digits at the start of text.
std::size_t DigitRun(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() && IsDigit(text[n]))
        ++n;
    return n;
}
} // namespace

bool CLineReader::Fill() {
    if (m_bEof || m_bFailed)
        return false;
    // Drop what has been handed out already so a long line does not drag old lines along.
    m_buffer.erase(0, m_pos);
    m_pos = 0;
    std::size_t old = m_buffer.size();
    m_buffer.resize(old + kChunkSize);
    std::optional<std::size_t> got = m_file.Read(m_buffer.data() + old, kChunkSize);
    m_buffer.resize(old + got.value_or(0));
    if (!got)
        m_bFailed = true;
    else if (*got == 0)
        m_bEof = true;
    return got.value_or(0) > 0;
}

CLineReader::ReadStatus CLineReader::ReadLine(std::string& line) {
    std::size_t searchFrom = m_pos;
    for (;;) {
        std::size_t lf = m_buffer.find('\n', searchFrom);
        if (lf != std::string::npos) {
            std::size_t end = lf;
            m_lastLineEnd = "\n";
            if (end > m_pos && m_buffer[end - 1] == '\r') {
                --end;
                m_lastLineEnd = "\r\n";
            }
            line.assign(m_buffer, m_pos, end - m_pos);
            m_pos = lf + 1;
            return ReadStatus::Line;
        }
        std::size_t searched = m_buffer.size() - m_pos;
        if (!Fill()) {
            if (m_bFailed)
                return ReadStatus::Error;
            if (m_pos == m_buffer.size())
                return ReadStatus::End;
            m_lastLineEnd = "";
            line.assign(m_buffer, m_pos, std::string::npos);
            m_pos = m_buffer.size();
            return ReadStatus::Line;
        }
        searchFrom = m_pos + searched;
    }
}

bool CLineReader::Rewind() {
    m_buffer.clear();
    m_pos = 0;
    m_bEof = false;
    m_bFailed = false;
    m_lastLineEnd = "";
    return m_file.Rewind();
}

bool ScanDecimalFloat(std::string_view text, float& value) {
    std::size_t i = 0;
    while (i < text.size() && IsScanSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::size_t numberStart = i;
    std::size_t intDigits = DigitRun(text.substr(i));
    i += intDigits;
    std::size_t fracDigits = 0;
    if (i < text.size() && text[i] == '.') {
        fracDigits = DigitRun(text.substr(i + 1));
        if (intDigits > 0 || fracDigits > 0)
            i += 1 + fracDigits;
    }
    if (intDigits == 0 && fracDigits == 0)
        return false;
    // An exponent belongs to the number only when digits follow its letter (and sign).
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool minus = j < text.size() && text[j] == '-';
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        std::size_t expDigits = DigitRun(text.substr(j));
        if (expDigits > 0) {
            i = j + expDigits;
            negativeExponent = minus;
        }
    }
    // from_chars takes no '+', so the sign is applied afterwards.
    const char* first = text.data() + numberStart;
    const char* last = text.data() + i;
    float parsed = 0.0f;
    if (std::from_chars(first, last, parsed, std::chars_format::general).ec != std::errc()) {
        // Out of range: as a scan does, too large gives infinity and too small gives zero.
        double wide = 0.0;
        if (std::from_chars(first, last, wide, std::chars_format::general).ec == std::errc())
            parsed = wide > std::numeric_limits<float>::max() ? HUGE_VALF : static_cast<float>(wide);
        else
            parsed = negativeExponent ? 0.0f : HUGE_VALF;
    }
    value = negative ? -parsed : parsed;
    return true;
}

bool ReadProgressKey(std::string_view line, std::string_view key, float& value) {
    if (line.substr(0, key.size()) != key)
        return false;
    ScanDecimalFloat(line.substr(key.size()), value);
    return true;
}

RecordLine SplitRecordLine(std::string_view line) {
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return {};
    return {line.substr(0, eq + 1), line.substr(eq + 1)};
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

} // namespace vantrel
