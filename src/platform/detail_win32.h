#pragma once

// <windows.h> for the platform's Win32 files, with the macros that would rename or clash with
// the platform's own names taken away again. Include it before any platform header.
#include <windows.h>

#undef CopyFile
#undef DeleteFile
#undef MoveFile
#undef RemoveDirectory
#undef IDLE_PRIORITY_CLASS
#undef NORMAL_PRIORITY_CLASS
#undef HIGH_PRIORITY_CLASS
#undef SW_HIDE
#undef SW_SHOWNORMAL
#undef SW_SHOWMINIMIZED
#undef SW_MINIMIZE
#undef SW_SHOWMINNOACTIVE

#include <string>
#include <string_view>
#include <vector>

// Helpers shared by the Win32 files; not part of the platform contract.
namespace vantrel::platform::detail {

// Owns one kernel handle and closes it when it goes. Both null and INVALID_HANDLE_VALUE are empty.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Reset(HANDLE handle = nullptr) {
        if (IsValid())
            ::CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};

// Kernel handles fit in 32 bits (the system keeps them so for 32-bit processes), so the platform's
// int "descriptors" carry them on Windows: an event, a process, a change notification.
inline int HandleToInt(HANDLE handle) {
    return handle == nullptr || handle == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(::HandleToLong(handle));
}
inline HANDLE IntToHandle(int value) {
    return value < 0 ? nullptr : ::LongToHandle(value);
}

// The path as the wide-character calls take it: the ANSI code page converted, "/" turned to "\",
// and an absolute path given the "\\?\" (or "\\?\UNC\") prefix, which lifts the 260-character
// limit of the ANSI calls. Empty when the text cannot be converted.
std::wstring WidePath(std::string_view path);

// Text in the ANSI code page from a wide string (as the wide calls answer).
std::string Narrow(std::wstring_view text);

// Whether the path starts at a drive root ("C:\"), a UNC share ("\\server\share") or "\\?\".
bool IsAbsolutePath(std::string_view path);

// The account this process runs as, as a SID in a buffer of its own; empty when it cannot be read.
std::vector<unsigned char> CurrentUserSid();

} // namespace vantrel::platform::detail
