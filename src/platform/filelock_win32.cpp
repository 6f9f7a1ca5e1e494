#include "platform/detail_win32.h"

#include "platform/filelock.h"

#include <fcntl.h>
#include <io.h>

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

FileLock::~FileLock() {
    Release();
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool FileLock::Acquire(const std::string& path, bool create) {
    Release();
    HANDLE file = ::CreateFileW(detail::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // A C runtime descriptor over the handle, so the holder can write the file through Fd().
    int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        return false;
    }
    m_fd = fd;
    return true;
}

void FileLock::Release() {
    if (m_fd >= 0) {
        ::_close(m_fd);
        m_fd = -1;
    }
}

} // namespace vantrel::platform
