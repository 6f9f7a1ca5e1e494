#include "support/locale.h"

#include <clocale>

namespace vantrel::test {

ScopedCommaLocale::ScopedCommaLocale() {
    // The C runtime has the German locale built in, under its newer or its older name.
    for (const char* name : {"de-DE", "German_Germany.1252"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            m_active = std::localeconv()->decimal_point[0] == ',';
            if (m_active)
                return;
        }
    }
    std::setlocale(LC_NUMERIC, "C");
}

ScopedCommaLocale::~ScopedCommaLocale() {
    std::setlocale(LC_NUMERIC, "C");
}

std::string ScopedCommaLocale::LocalePath() {
    // Nothing is compiled here: no child program needs to be told where the locale is.
    return {};
}

} // namespace vantrel::test
