#include "platform/detail_win32.h"

#include <sddl.h>

#include "platform/system.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace vantrel::platform {

std::string GetOwnExecutablePath() {
    // GetModuleFileName cuts the name silently when it does not fit: grow until it does.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            std::string path = detail::Narrow(buffer);
            if (path.starts_with("\\\\?\\UNC\\"))
                return "\\\\" + path.substr(8);
            return path.starts_with("\\\\?\\") ? path.substr(4) : path;
        }
        buffer.resize(buffer.size() * 2);
    }
}

unsigned GetProcessorCount() {
    // Processors of every group the system has, cut to the ones this process may run on.
    unsigned count = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    DWORD_PTR own = 0;
    DWORD_PTR system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &own, &system) && own != 0)
        count = std::min(count, static_cast<unsigned>(std::popcount(static_cast<unsigned long long>(own))));
    return std::max(count, 1u);
}

std::string CurrentUserId() {
    // The account's SID in its text form ("S-1-5-21-..."), which names one user for good.
    std::vector<unsigned char> sid = detail::CurrentUserSid();
    if (sid.empty())
        return {};
    LPSTR text = nullptr;
    if (!::ConvertSidToStringSidA(sid.data(), &text))
        return {};
    std::string id(text);
    ::LocalFree(text);
    return id;
}

} // namespace vantrel::platform
