#pragma once

#include <memory>
#include <string>

namespace vantrel::test {

// Switches this process's numbers (LC_NUMERIC) to a locale that writes a decimal comma, de_DE,
// for the life of the object, and back to "C" after. The machine need not have it installed: it
// is compiled with localedef into a temp directory once per test program. Active() is false when
// neither works (no localedef, no locale sources).
class ScopedCommaLocale {
public:
    ScopedCommaLocale();
    ~ScopedCommaLocale();
    ScopedCommaLocale(const ScopedCommaLocale&) = delete;
    ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

    bool Active() const { return m_active; }
    // The directory holding the compiled locale, for a child program's LOCPATH; empty when it could
    // not be made.
    static std::string LocalePath();

private:
    bool m_active = false;
    bool m_setPath = false;
};

} // namespace vantrel::test
