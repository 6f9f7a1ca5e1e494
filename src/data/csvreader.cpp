#include "data/csvreader.h"

namespace vantrel {

namespace {

// The next field of record, emptied; the strings of an earlier record are reused.
std::string& NextField(CsvRecord& record, std::size_t& fields) {
    if (fields == record.size())
        record.emplace_back();
    std::string& field = record[fields++];
    field.clear();
    return field;
}

// A character that ends a bare field, or makes it malformed.
bool IsBareFieldEnd(char c) {
    return c == ',' || c == '\n' || c == '\r' || c == '"';
}

} // namespace

void CCsvReader::Feed(std::string_view text) {
    m_buffer.erase(0, m_pos);
    m_pos = 0;
    m_buffer += text;
}

CCsvReader::ERead CCsvReader::Fail(std::string what) {
    m_strError = std::move(what);
    return ERead::Bad;
}

void CCsvReader::SkipLine(std::size_t start) {
    const std::size_t lf = m_buffer.find('\n', start);
    m_bSkipping = lf == std::string::npos && !m_bFinished;
    m_pos = lf == std::string::npos ? m_buffer.size() : lf + 1;
}

CCsvReader::ERead CCsvReader::ReadRecord(CsvRecord& record) {
    if (m_bSkipping)
        SkipLine(m_pos);
    if (m_pos >= m_buffer.size())
        return m_bFinished ? ERead::End : ERead::NeedMore;
    const std::size_t start = m_pos;
    std::size_t fields = 0;
    ERead result = Parse(record, fields);
    if (result == ERead::NeedMore && m_buffer.size() - start > m_maxRecordBytes)
        result = Fail("a record longer than " + std::to_string(m_maxRecordBytes) + " bytes");
    if (result == ERead::NeedMore) {
        m_pos = start;
        return result;
    }
    if (result == ERead::Bad) {
        // A malformed record costs its first line only, so one stray quote cannot swallow the rows
        // after it.
        SkipLine(start);
        ++m_nRecords;
        return result;
    }
    record.resize(fields);
    ++m_nRecords;
    return result;
}

CCsvReader::ERead CCsvReader::Parse(CsvRecord& record, std::size_t& fields) {
    const std::string& text = m_buffer;
    const std::size_t size = text.size();
    std::size_t at = m_pos;
    for (;;) {
        if (fields == m_maxFields)
            return Fail("more than " + std::to_string(m_maxFields) + " fields");
        std::string& field = NextField(record, fields);
        if (at < size && text[at] == '"') {
            // A quoted field runs to the quote that is not doubled.
            ++at;
            for (;;) {
                std::size_t quote = text.find('"', at);
                if (quote == std::string::npos)
                    return m_bFinished ? Fail("a quoted field is never closed") : ERead::NeedMore;
                field.append(text, at, quote - at);
                if (quote + 1 >= size && !m_bFinished)
                    return ERead::NeedMore;
                if (quote + 1 < size && text[quote + 1] == '"') {
                    field += '"';
                    at = quote + 2;
                    continue;
                }
                at = quote + 1;
                break;
            }
            if (at < size && text[at] != ',' && text[at] != '\n') {
                if (text[at] == '\r' && at + 1 >= size && !m_bFinished)
                    return ERead::NeedMore;
                if (text[at] != '\r' || at + 1 >= size || text[at + 1] != '\n')
                    return Fail("text follows the closing quote of field " + std::to_string(fields));
            }
        } else {
            for (;;) {
                // A plain loop: find_first_of looks each character up in the set with a call.
                std::size_t stop = at;
                while (stop < size && !IsBareFieldEnd(text[stop]))
                    ++stop;
                if (stop == size) {
                    if (!m_bFinished)
                        return ERead::NeedMore;
                    field.append(text, at, std::string::npos);
                    at = size;
                    break;
                }
                field.append(text, at, stop - at);
                at = stop;
                if (text[at] == '"')
                    return Fail("a double quote inside bare field " + std::to_string(fields));
                if (text[at] != '\r')
                    break;
                // A carriage return ends the record only before a line feed.
                if (at + 1 >= size && !m_bFinished)
                    return ERead::NeedMore;
                if (at + 1 < size && text[at + 1] == '\n')
                    break;
                field += '\r';
                ++at;
            }
        }
        if (at >= size) {
            if (!m_bFinished)
                return ERead::NeedMore;
            m_pos = size;
            return ERead::Record;
        }
        if (text[at] == ',') {
            ++at;
            continue;
        }
        m_pos = at + (text[at] == '\r' ? 2 : 1);
        return ERead::Record;
    }
}

CsvDocument ReadCsv(std::string_view text) {
    CsvDocument doc;
    CCsvReader reader;
    reader.Feed(text);
    reader.Finish();
    CsvRecord record;
    for (;;) {
        switch (reader.ReadRecord(record)) {
        case CCsvReader::ERead::Record:
            doc.records.push_back(record);
            break;
        case CCsvReader::ERead::Bad:
            doc.error = "record " + std::to_string(reader.RecordCount()) + ": " + reader.Error();
            return doc;
        case CCsvReader::ERead::NeedMore:
        case CCsvReader::ERead::End:
            return doc;
        }
    }
}

} // namespace vantrel
