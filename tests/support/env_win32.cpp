#include "support/tempdir.h"

#include <stdlib.h>

namespace vantrel::test {

void SetEnv(const char* name, const std::optional<std::string>& value) {
    // An empty value removes the variable, as the C runtime does on Windows.
    ::_putenv_s(name, value ? value->c_str() : "");
}

bool HasPermissionBits() {
    return false;
}

} // namespace vantrel::test
