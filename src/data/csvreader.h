#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A strict RFC 4180 reader: the result log read as any spreadsheet would read it.
namespace vantrel {

using CsvRecord = std::vector<std::string>;

// A record of the result log is a few hundred bytes in a few dozen fields; far more is a damaged
// file, and is read as a bad record instead of being held.
inline constexpr std::size_t kMaxCsvRecordBytes = 1u << 20;
inline constexpr std::size_t kMaxCsvFields = 4096;

// Reads records one at a time from text that may arrive in pieces, so a long log never has to be
// held whole. Records end with CR LF or LF; the last one may end without. A field in double
// quotes may hold commas, line ends and doubled quotes; a quote anywhere else (inside a bare
// field, or not followed by a comma or a line end after a quoted field) and an unclosed quote
// make the record bad, since a reader would split such a row differently from the writer. So does
// a record longer than maxRecordBytes or with more than maxFields fields: its text is skipped to
// the next line feed as it arrives, so the reader never holds more than about maxRecordBytes.
class CCsvReader {
public:
    explicit CCsvReader(std::size_t maxRecordBytes = kMaxCsvRecordBytes, std::size_t maxFields = kMaxCsvFields)
        : m_maxRecordBytes(maxRecordBytes), m_maxFields(maxFields) {}

    enum class ERead {
        Record,   // a whole record was read
        Bad,      // a malformed record; reading goes on at the line after the one it began on
        NeedMore, // the text so far ends inside a record: Feed more, or Finish
        End       // every record has been read
    };

    // More text; what was handed out already is dropped.
    void Feed(std::string_view text);
    // No more text will come: a record that the text ends in is read as it stands.
    void Finish() { m_bFinished = true; }

    // The next record into record (its strings are reused, so reading many costs few allocations).
    ERead ReadRecord(CsvRecord& record);

    // What was wrong with the last bad record.
    const std::string& Error() const { return m_strError; }
    // Records read so far, good and bad.
    std::size_t RecordCount() const { return m_nRecords; }
    // Text fed and not yet read: one unfinished record at most after NeedMore.
    std::size_t Pending() const { return m_buffer.size() - m_pos; }

private:
    ERead Parse(CsvRecord& record, std::size_t& fields);
    ERead Fail(std::string what);
    // Goes on after a bad record that began at start: at the line after its first one, or, when
    // that line has not all arrived, by dropping text until it has.
    void SkipLine(std::size_t start);

    std::size_t m_maxRecordBytes;
    std::size_t m_maxFields;
    bool m_bSkipping = false; // dropping the rest of a bad record's first line
    std::string m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_nRecords = 0;
    bool m_bFinished = false;
    std::string m_strError;
};

struct CsvDocument {
    std::vector<CsvRecord> records;
    // Empty when the whole text is well-formed; otherwise what is wrong and on which record.
    std::string error;
};

// The whole text; reading stops at the first malformed record.
CsvDocument ReadCsv(std::string_view text);

} // namespace vantrel
