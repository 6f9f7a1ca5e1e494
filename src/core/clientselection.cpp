#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "core/cachestore.h"
#include "platform/fileops.h"

namespace vantrel {

namespace {

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return UpperCase(a) == UpperCase(b);
}

// Companion tools that share the client's name pattern but are never the client.
constexpr std::array<std::string_view, 5> kNotClients = {"ORVASpy.exe", "ORVALog.exe", "ORVAWatch.exe",
                                                         "ORVAStatus.exe", "ORVAMon.exe"};

} // namespace

bool CCacheStore::SelectClientAtStartup(IClientChooser& chooser) {
    SetClientPath({});
    unsigned candidates = 0;
    std::vector<std::string> cmdlineNames;
    for (const auto& entry : platform::ListDirectory(m_strProgramDir, "ORVA*.exe")) {
        if (entry.isDirectory || EqualsIgnoringCase(entry.name, m_strOwnFileName))
            continue;
        if (std::any_of(kNotClients.begin(), kNotClients.end(),
                        [&](std::string_view tool) { return EqualsIgnoringCase(entry.name, tool); }))
            continue;
        ++candidates;
        SetClientPath(platform::JoinPath(m_strProgramDir, entry.name));
        if (UpperCase(entry.name).find("CMDLINE") != std::string::npos)
            cmdlineNames.push_back(entry.name);
    }
    if (candidates == 1)
        return true;
    if (cmdlineNames.size() == 1) {
        SetClientPath(platform::JoinPath(m_strProgramDir, cmdlineNames.front()));
        return true;
    }

    for (;;) {
        std::string chosen = chooser.AskForClient(m_strProgramDir);
        if (chosen.empty()) {
            SetClientPath({});
            chooser.ShowMessage(kNoClientSelectedMessage, true);
            return false;
        }
        if (EqualsIgnoringCase(platform::FileNamePart(chosen), m_strOwnFileName)) {
            chooser.ShowMessage(kOwnProgramChosenMessage, false);
            continue;
        }
        SetClientPath(chosen);
        return true;
    }
}

} // namespace vantrel
