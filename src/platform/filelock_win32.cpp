#include "platform/detail_win32.h"

#include "platform/filelock.h"

// "Held open" is what Windows means by it: the holder has the file open without sharing, and a
// probe is an exclusive open that fails while anyone has it open.
namespace vantrel::platform {

bool IsFileLockedByOther(const std::string& path) {
    HANDLE file = ::CreateFileW(detail::WidePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return false;
    }
    DWORD error = ::GetLastError();
    // Absent is not locked; anything else that stops an exclusive open (a sharing violation, no
    // right, a directory under the name) counts as locked.
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool FileLock::Acquire(const std::string& path, bool create) {
    Release();
    FileOpenOptions options;
    options.write = true;
    options.create = create;
    options.exclusive = true;
    m_file = OpenRegularFile(path, options);
    return m_file.IsValid();
}

} // namespace vantrel::platform
