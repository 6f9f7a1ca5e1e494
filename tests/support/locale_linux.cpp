#include "support/locale.h"

#include <clocale>
#include <cstdlib>
#include <sys/wait.h>

#include "support/childprocess.h"
#include "support/tempdir.h"

namespace vantrel::test {

namespace {
constexpr const char* kCommaLocale = "de_DE.UTF-8";

// Whether numbers are written with a comma now.
bool WritesComma() {
    const std::lconv* conv = std::localeconv();
    return conv != nullptr && conv->decimal_point != nullptr && std::string(conv->decimal_point) == ",";
}

// The directory localedef compiled the locale into, made on first use and kept for the program.
const std::string& CompiledLocales() {
    static TempDir dir;
    static const bool built = [] {
        TestChild localedef({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", dir / kCommaLocale});
        localedef.CloseInput();
        const int status = localedef.Wait();
        return WIFEXITED(status) && WEXITSTATUS(status) <= 1; // 1: written, with warnings
    }();
    static const std::string none;
    return built ? dir.Path() : none;
}
} // namespace

std::string ScopedCommaLocale::LocalePath() {
    return CompiledLocales();
}

ScopedCommaLocale::ScopedCommaLocale() {
    if (std::setlocale(LC_NUMERIC, kCommaLocale) == nullptr && !CompiledLocales().empty()) {
        m_setPath = ::setenv("LOCPATH", CompiledLocales().c_str(), 1) == 0;
        std::setlocale(LC_NUMERIC, kCommaLocale);
    }
    m_active = WritesComma();
}

ScopedCommaLocale::~ScopedCommaLocale() {
    std::setlocale(LC_NUMERIC, "C");
    if (m_setPath)
        ::unsetenv("LOCPATH");
}

} // namespace vantrel::test
