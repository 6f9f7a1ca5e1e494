#include "support/openfiles.h"

#include <windows.h>

namespace vantrel::test {

int OwnHandlesOn(const std::string& path) {
    // An open for reading without any sharing fails while any other handle is open on the file.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return 0;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION ? 1 : 0;
}

} // namespace vantrel::test
