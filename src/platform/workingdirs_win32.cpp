#include "platform/process_detail_win32.h"

#include "platform/workingdirs.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cwctype>
#include <optional>
#include <tlhelp32.h>
#include <winternl.h>

// A process's current directory is kept in its process parameters, which the system's own
// tools read from the process's memory: the block's address comes from NtQueryInformationProcess.
namespace vantrel::platform {

namespace {

// Where the 64-bit process environment block keeps the parameters, and where those keep the
// current directory's path (a UNICODE_STRING).
constexpr std::size_t kParametersInPeb = 0x20;
constexpr std::size_t kCurrentDirectoryInParameters = 0x38;

template <typename T>
bool ReadFrom(HANDLE process, const void* address, T& value) {
    SIZE_T got = 0;
    return ::ReadProcessMemory(process, address, &value, sizeof value, &got) && got == sizeof value;
}

std::optional<std::wstring> CurrentDirectoryOf(DWORD pid) {
    detail::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process.IsValid())
        return std::nullopt;
    PROCESS_BASIC_INFORMATION basic{};
    if (::NtQueryInformationProcess(process.Get(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 ||
        basic.PebBaseAddress == nullptr)
        return std::nullopt;
    const auto* peb = reinterpret_cast<const unsigned char*>(basic.PebBaseAddress);
    const unsigned char* parameters = nullptr;
    UNICODE_STRING path{};
    if (!ReadFrom(process.Get(), peb + kParametersInPeb, parameters) || parameters == nullptr ||
        !ReadFrom(process.Get(), parameters + kCurrentDirectoryInParameters, path) || path.Buffer == nullptr)
        return std::nullopt;
    std::wstring text(path.Length / sizeof(wchar_t), L'\0');
    SIZE_T got = 0;
    if (!::ReadProcessMemory(process.Get(), path.Buffer, text.data(), path.Length, &got) || got != path.Length)
        return std::nullopt;
    return text;
}

// "\" separated, without the long-path prefix, ending in "\"; in lower case for comparing.
std::wstring Tidy(std::wstring path, bool lower) {
    for (wchar_t& c : path)
        c = c == L'/' ? L'\\' : lower ? static_cast<wchar_t>(std::towlower(c)) : c;
    if (path.starts_with(L"\\\\?\\unc\\") || path.starts_with(L"\\\\?\\UNC\\"))
        path = L"\\\\" + path.substr(8);
    else if (path.starts_with(L"\\\\?\\"))
        path = path.substr(4);
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    return path;
}

} // namespace

std::vector<std::string> EntriesInUseAsWorkingDirectory(const std::string& dir) {
    std::vector<std::string> names;
    std::wstring wide = detail::WidePath(dir);
    if (wide.empty() || ::GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES)
        return names;
    const std::wstring prefix = Tidy(wide, true);
    detail::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot.IsValid() || !::Process32FirstW(snapshot.Get(), &entry))
        return names;
    do {
        std::optional<std::wstring> cwd = CurrentDirectoryOf(entry.th32ProcessID);
        if (!cwd)
            continue;
        // Compared ignoring case; named as the process's own path spells it.
        std::wstring key = Tidy(*cwd, true);
        if (key.size() <= prefix.size() || !key.starts_with(prefix))
            continue;
        std::size_t end = key.find(L'\\', prefix.size());
        names.push_back(detail::Narrow(Tidy(*cwd, false).substr(prefix.size(), end - prefix.size())));
    } while (::Process32NextW(snapshot.Get(), &entry));
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

} // namespace vantrel::platform
