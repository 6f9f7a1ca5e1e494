#include "support/tempdir.h"

#include <unistd.h>

#include <cstring>
#include <stdlib.h>
#include <time.h>

extern char** environ;

namespace vantrel::test {

bool RunsUnderWine() {
    return false;
}

void SetEnv(const char* name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

void SetTimeZone(const std::optional<std::string>& zone) {
    SetEnv("TZ", zone);
    ::tzset();
}

bool HasPermissionBits() {
    return true;
}

bool MayRaiseProcessPriority() {
    return ::geteuid() == 0;
}

std::vector<std::string> EnvironmentNames() {
    std::vector<std::string> names;
    for (char** entry = environ; *entry != nullptr; ++entry)
        names.emplace_back(*entry, std::strcspn(*entry, "="));
    return names;
}

} // namespace vantrel::test
