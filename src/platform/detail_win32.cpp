#include "platform/detail_win32.h"

#include <vector>

namespace vantrel::platform::detail {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::wstring Widen(std::string_view text) {
    if (text.empty())
        return {};
    int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

} // namespace

bool IsAbsolutePath(std::string_view path) {
    if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]))
        return true;
    return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

std::wstring WidePath(std::string_view path) {
    std::string native(path);
    for (char& c : native)
        if (c == '/')
            c = '\\';
    std::wstring wide = Widen(native);
    if (wide.empty() || !IsAbsolutePath(native) || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\"))
        return wide;
    // The prefixed form is taken literally: "." and ".." parts and doubled separators must go first.
    DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return wide;
    std::wstring full(needed, L'\0');
    DWORD written = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed)
        return wide;
    full.resize(written);
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty())
        return {};
    int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
    if (length <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                          nullptr);
    return narrow;
}

// The account this process runs as, as a SID in a buffer of its own.
std::vector<unsigned char> CurrentUserSid() {
    detail::UniqueHandle token;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return {};
    token.Reset(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size))
        return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    std::vector<unsigned char> copy(::GetLengthSid(sid));
    if (!::CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid))
        return {};
    return copy;
}

} // namespace vantrel::platform::detail
