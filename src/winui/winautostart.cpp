#include "winui/win32.h"
#include "winui/winautostart.h"

#include <vector>

namespace vantrel {

namespace {

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kValueName = "Vantrel";

std::string Command(const std::string& executable) {
    return "\"" + executable + "\" -min";
}

} // namespace

bool IsStartAtLogin(const std::string& executable) {
    DWORD size = 0;
    if (::RegGetValueA(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<char> value(size + 1, '\0');
    if (::RegGetValueA(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
        ERROR_SUCCESS)
        return false;
    // Another copy's entry (another folder) is not this one's.
    return _stricmp(value.data(), Command(executable).c_str()) == 0;
}

bool SetStartAtLogin(bool on, const std::string& executable) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LSTATUS status = ERROR_SUCCESS;
    if (on) {
        const std::string command = Command(executable);
        status = ::RegSetValueExA(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                  static_cast<DWORD>(command.size() + 1));
    } else if (IsStartAtLogin(executable)) {
        status = ::RegDeleteValueA(key, kValueName);
    }
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

} // namespace vantrel
