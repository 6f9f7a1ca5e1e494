#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/file.h"

// The client's data files: text lines of key, "=" and value. A line ends at a line feed; a
// carriage return just before it is not part of the line. Lines of any length are accepted, and
// any byte (NUL, bytes that are not UTF-8) is kept as it is.
namespace vantrel {

// Reads lines from an open file that it does not own, from the file's current position.
class CLineReader {
public:
    enum class ReadStatus { Line, End, Error };

    explicit CLineReader(platform::File& file) : m_file(file) {}

    // The next line without its line end. A last line without a final line feed is still a line;
    // a final line feed does not start another one.
    ReadStatus ReadLine(std::string& line);

    // The line end that closed the line just read: "\r\n", "\n", or "" at the end of the file.
    std::string_view LastLineEnd() const { return m_lastLineEnd; }

    // Back to the start of the file, forgetting everything buffered, so a file that was rewritten
    // or shrank meanwhile is read as it is now. False when the file cannot seek.
    bool Rewind();

private:
    // Reads one more chunk; false at the end of the file or on a read error (m_bFailed).
    bool Fill();

    platform::File& m_file;
    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_bEof = false;
    bool m_bFailed = false;
    std::string_view m_lastLineEnd;
};

// Progress rule: whether the line counts for key (key includes its "=", compared exactly and
// case-sensitively with the line's first characters). When it counts and a decimal number
// follows (after white space), value takes that number; otherwise value keeps what it had.
bool ReadProgressKey(std::string_view line, std::string_view key, float& value);

// The decimal floating-point number at the start of text after white space, the way a "%f" scan
// reads it but independent of the locale: sign, digits, point, exponent; the rest is ignored.
// False when no number is there.
bool ScanDecimalFloat(std::string_view text, float& value);

// Record rule: the key is the line's text up to and including its first "=" (empty when there is
// none), the value everything after it, unchanged.
struct RecordLine {
    std::string_view Key;
    std::string_view Value;
};
RecordLine SplitRecordLine(std::string_view line);

// Case-insensitive comparison of ASCII letters only, so the user's locale never changes a match.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

} // namespace vantrel
