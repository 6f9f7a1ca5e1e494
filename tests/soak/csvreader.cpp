#include "csvreader.h"

namespace vantrel::soak {

namespace {

bool AtLineEnd(std::string_view text, std::size_t at) {
    return at < text.size() && (text[at] == '\n' || (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n'));
}

std::size_t LineEndLength(std::string_view text, std::size_t at) {
    return text[at] == '\r' ? 2 : 1;
}

} // namespace

CsvDocument ReadCsv(std::string_view text) {
    CsvDocument doc;
    if (text.empty())
        return doc;
    CsvRecord record;
    std::string field;
    std::size_t at = 0;
    auto fail = [&](const std::string& what) {
        doc.error = "record " + std::to_string(doc.records.size() + 1) + ": " + what;
        return doc;
    };
    for (;;) {
        field.clear();
        if (at < text.size() && text[at] == '"') {
            // A quoted field runs to the quote that is not doubled.
            ++at;
            for (;;) {
                if (at >= text.size())
                    return fail("a quoted field is never closed");
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        field += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                field += text[at++];
            }
            if (at < text.size() && text[at] != ',' && !AtLineEnd(text, at))
                return fail("text follows the closing quote of field " + std::to_string(record.size() + 1));
        } else {
            while (at < text.size() && text[at] != ',' && !AtLineEnd(text, at)) {
                if (text[at] == '"')
                    return fail("a double quote inside bare field " + std::to_string(record.size() + 1));
                field += text[at++];
            }
        }
        record.push_back(field);
        if (at >= text.size()) {
            doc.records.push_back(std::move(record));
            return doc;
        }
        if (text[at] == ',') {
            ++at;
            continue;
        }
        at += LineEndLength(text, at);
        doc.records.push_back(std::move(record));
        record.clear();
        // A line end after the last record is allowed.
        if (at >= text.size())
            return doc;
    }
}

} // namespace vantrel::soak
