#include "support/runslog.h"

#include <sstream>

namespace vantrel::test {

namespace {

std::string Unescaped(const std::string& value) {
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        switch (char kind = value[++i]) {
        case 't': text += '\t'; break;
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 's': text += ' '; break;
        case 'x':
            text += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default: text += kind; break;
        }
    }
    return text;
}

} // namespace

std::map<std::string, std::string> RunsLogFields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream parts(line);
    std::string part;
    while (std::getline(parts, part, '\t')) {
        std::size_t equals = part.find('=');
        if (equals == std::string::npos)
            continue;
        std::string name = part.substr(0, equals);
        std::string value = part.substr(equals + 1);
        fields[name] = name == "args" ? value : Unescaped(value);
    }
    return fields;
}

} // namespace vantrel::test
