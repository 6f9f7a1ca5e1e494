#include "support/tempdir.h"

#include <stdlib.h>
#include <time.h>

namespace vantrel::test {

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

} // namespace vantrel::test
