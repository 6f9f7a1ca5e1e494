#include "support/tempdir.h"

#include <cstring>
#include <map>
#include <stdlib.h>
#include <time.h>
#include <windows.h>

namespace vantrel::test {

bool RunsUnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void SetEnv(const char* name, const std::optional<std::string>& value) {
    // An empty value removes the variable, as the C runtime does on Windows.
    ::_putenv_s(name, value ? value->c_str() : "");
}

void SetTimeZone(const std::optional<std::string>& zone) {
    // The C runtime reads no zone names, only offsets and the names of a zone and its summer
    // time of three letters each, so the zones the tests use are given that way.
    static const std::map<std::string, std::string> offsets = {{"America/Los_Angeles", "PST8PDT"},
                                                               {"Asia/Kolkata", "IST-5:30"},
                                                               {"Europe/Berlin", "CET-1CES"},
                                                               {"Pacific/Auckland", "NZS-12NZD"}};
    auto known = zone ? offsets.find(*zone) : offsets.end();
    SetEnv("TZ", known != offsets.end() ? std::optional<std::string>(known->second) : zone);
    ::_tzset();
}

bool HasPermissionBits() {
    return false;
}

// The high class needs no privilege; only the real-time class does.
bool MayRaiseProcessPriority() {
    return true;
}

std::vector<std::string> EnvironmentNames() {
    std::vector<std::string> names;
    if (char* block = ::GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1)
            // Entries of the drives' current directories ("=C:=C:\\...") are no variables.
            if (*entry != '=')
                names.emplace_back(entry, std::strcspn(entry, "="));
        ::FreeEnvironmentStringsA(block);
    }
    return names;
}

} // namespace vantrel::test
