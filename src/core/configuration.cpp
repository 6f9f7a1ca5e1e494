#include "core/configuration.h"

#include "core/clientcontract.h"
#include "core/configfile.h"
#include "core/optiontext.h"
#include "platform/process.h"

#include <algorithm>
#include <cstdint>

namespace vantrel {

bool IsServerControlEnabled(EServerMode mode, unsigned serverPort, EServerControl control) {
    if (control == SRV_USE_COLON && serverPort != 0)
        return false;
    switch (mode) {
    case SM_PROXY:
        // Host and port with their labels, and "Use Colon": all a proxy needs.
        return control == SRV_HOST_LABEL || control == SRV_HOST || control == SRV_PORT_LABEL || control == SRV_PORT ||
               control == SRV_USE_COLON;
    case SM_SOCKS:
        return true;
    case SM_NONE:
        break;
    }
    return false;
}

ServerControlStates GetServerControlStates(EServerMode mode, unsigned serverPort) {
    ServerControlStates states{};
    for (std::size_t k = 0; k < states.size(); ++k)
        states[k] = IsServerControlEnabled(mode, serverPort, static_cast<EServerControl>(k));
    return states;
}

void SelectServerMode(COptions& options, EServerMode mode, IOptionsView& view) {
    options.ServerMode = mode;
    view.EnableServerControls(GetServerControlStates(mode, options.ServerPort));
}

void UpdateUseColon(COptions& options, IOptionsView& view) {
    options.UseColon = options.ServerPort != 0;
    view.EnableServerControls(GetServerControlStates(options.ServerMode, options.ServerPort));
}

void ReadServerValue(COptions& options, std::string_view value) {
    std::size_t colon = value.find(':');
    options.ServerHost = std::string(value.substr(0, colon));
    options.ServerPort = 0;
    options.UseColon = colon != std::string_view::npos;
    if (colon == std::string_view::npos)
        return;
    auto port = ReadSignedDecimal(value.substr(colon + 1));
    if (port && *port >= 0 && *port <= UINT32_MAX)
        options.ServerPort = static_cast<unsigned>(*port);
}

void BuildClientOptions(COptions& options) {
    options.ClientOptions.clear();
    options.ClientOptionArgs.clear();
    EServerMode mode = options.ServerMode;
    if (mode == SM_NONE)
        return;
    options.ServerHost = std::string(TrimOptionWhiteSpace(options.ServerHost));
    if (options.ServerHost.empty())
        return;

    auto addSwitch = [&options](const char* name, const std::string& value) {
        options.ClientOptions += ' ';
        options.ClientOptions += name;
        options.ClientOptions += ' ';
        options.ClientOptions += value;
        options.ClientOptionArgs.emplace_back(name);
        options.ClientOptionArgs.push_back(value);
    };
    std::string hostSpec = FormatHostSpec(options.ServerHost, options.ServerPort, options.UseColon);
    if (mode == SM_PROXY) {
        addSwitch(contract::kProxySwitch, hostSpec);
        return;
    }
    addSwitch(contract::kSocksServerSwitch, hostSpec);
    if (!options.SocksUser.empty())
        addSwitch(contract::kSocksUserSwitch, options.SocksUser);
    if (!options.SocksPassword.empty())
        addSwitch(contract::kSocksPasswdSwitch, options.SocksPassword);
}

CConfigurationReader::CConfigurationReader(std::string_view collectedText, COptions& options, IOptionsView& view,
                                           unsigned processorCount)
    : m_quoted(ExtractQuotedValues(collectedText)), m_strText(NormalizeOptionText(m_quoted.text)),
      m_strSearchText(ToUpperAscii(m_strText)), m_options(options),
      m_view(view), m_nProcessorCount(processorCount) {}

bool CConfigurationReader::HasKeyword(std::string_view keyword) const {
    return m_strSearchText.find(ToUpperAscii(keyword)) != std::string::npos;
}

std::string CConfigurationReader::ServerValue(std::string_view keyword) const {
    return ToUpperAscii(ResolveQuotedValue(GetOptionValue(m_strSearchText, keyword), m_quoted.values));
}

bool CConfigurationReader::SetIfPresent(std::string_view keyword, std::atomic<bool>& option) {
    bool found = HasKeyword(keyword);
    if (found)
        option = true;
    return found;
}

bool CConfigurationReader::ReadDisplayTransmit() {
    return SetIfPresent("-DISPLAYTRANSMIT", m_options.DisplayTransmit);
}

bool CConfigurationReader::ReadAutoTransmit() {
    return SetIfPresent("-AUTO", m_options.AutoTransmit);
}

bool CConfigurationReader::ReadMinimise() {
    bool found = HasKeyword("-MIN");
    if (found)
        m_view.PostMinimise();
    return found;
}

bool CConfigurationReader::Read24HourClock() {
    return SetIfPresent("-24HR", m_options.Use24HourClock);
}

bool CConfigurationReader::ReadNoHide() {
    bool found = HasKeyword("-NOHIDE");
    if (found) {
        m_options.HideProcessing = false;
        m_options.ClientShowMode = platform::SW_MINIMIZE;
    }
    return found;
}

bool CConfigurationReader::ReadMaxProcesses() {
    auto number = ReadSignedDecimal(GetOptionValue(m_strSearchText, "-CPU"));
    if (!number || *number < 1)
        m_options.MaxProcesses = std::min(m_nProcessorCount, kMaxProcessesLimit);
    else
        m_options.MaxProcesses = static_cast<unsigned>(std::min<long long>(*number, kMaxProcessesLimit));
    m_view.ResizeRunningSlots(m_options.MaxProcesses);
    return HasKeyword("-CPU");
}

bool CConfigurationReader::ReadAffinity() {
    bool found = HasKeyword("-AFFINITY");
    if (m_nProcessorCount < 2) {
        m_options.SetAffinity = false;
        m_view.HideAffinityCheckBox();
    } else if (found) {
        m_options.SetAffinity = true;
    }
    return found;
}

bool CConfigurationReader::ReadMonitorProgress() {
    return SetIfPresent("-VERBOSE", m_options.MonitorProgress);
}

bool CConfigurationReader::ReadUseSpy() {
    bool found = HasKeyword("-SPY") || HasKeyword("-ORVASPY");
    if (found)
        m_options.UseSpy = true;
    return found;
}

bool CConfigurationReader::ReadCreateLog() {
    return SetIfPresent("-ORVALOG", m_options.CreateLog);
}

void CConfigurationReader::ReadNoServer() {
    SelectServerMode(m_options, SM_NONE, m_view);
}

bool CConfigurationReader::ReadProxy() {
    if (!HasKeyword("-PROXY"))
        return false;
    m_options.ServerMode = SM_PROXY;
    // Taken from the upper-cased text: the host is stored in upper case.
    ReadServerValue(m_options, ServerValue("-PROXY"));
    m_view.EnableServerControls(GetServerControlStates(SM_PROXY, m_options.ServerPort));
    return true;
}

bool CConfigurationReader::ReadSocks() {
    if (!HasKeyword("-SOCKS_SERVER"))
        return false;
    m_options.ServerMode = SM_SOCKS;
    ReadServerValue(m_options, ServerValue("-SOCKS_SERVER"));
    // User name and password are found in the upper-cased text but keep their case as written.
    auto asWritten = [this](std::string_view keyword) {
        auto span = FindOptionValue(m_strSearchText, keyword);
        if (!span)
            return std::string();
        return ResolveQuotedValue(std::string_view(m_strText).substr(span->pos, span->length), m_quoted.values);
    };
    if (HasKeyword("-SOCKS_USER"))
        m_options.SocksUser = asWritten("-SOCKS_USER");
    if (HasKeyword("-SOCKS_PASSWD"))
        m_options.SocksPassword = asWritten("-SOCKS_PASSWD");
    m_view.EnableServerControls(GetServerControlStates(SM_SOCKS, m_options.ServerPort));
    return true;
}

void CConfigurationReader::ReadClientPriority() {
    if (HasKeyword("-RUNNORMAL"))
        m_options.ClientPriority = CP_NORMAL;
    else if (HasKeyword("-RUNHIGH"))
        m_options.ClientPriority = CP_HIGH;
    else
        m_options.ClientPriority = CP_LOW;
}

bool CConfigurationReader::ReadNotify() {
    if (!SetIfPresent("-NOTIFY", m_options.NotifyProblems))
        return false;
    auto hours = ReadSignedDecimal(GetOptionValue(m_strSearchText, "-NOTIFY"));
    if (hours && *hours >= 1 && *hours <= kMaxNotifyAfterHours)
        m_options.NotifyAfterHours = static_cast<unsigned>(*hours);
    return true;
}

void CConfigurationReader::ReadSteps(int first, int last) {
    using Step = void (*)(CConfigurationReader&);
    // Entry k - 1 is step k; steps 14 and 15 run inside step 13.
    static constexpr std::array<Step, kStepCount> kSteps = {
        [](CConfigurationReader& r) { r.ReadDisplayTransmit(); },
        [](CConfigurationReader& r) { r.ReadAutoTransmit(); },
        [](CConfigurationReader& r) { r.ReadMinimise(); },
        [](CConfigurationReader& r) { r.Read24HourClock(); },
        [](CConfigurationReader& r) { r.ReadNoHide(); },
        [](CConfigurationReader& r) { r.ReadMaxProcesses(); },
        [](CConfigurationReader& r) { r.ReadAffinity(); },
        [](CConfigurationReader& r) { r.ReadMonitorProgress(); },
        [](CConfigurationReader& r) { r.ReadUseSpy(); },
        [](CConfigurationReader& r) { r.ReadCreateLog(); },
        [](CConfigurationReader& r) { r.ReadNoServer(); },
        [](CConfigurationReader& r) { r.ReadProxy(); },
        [](CConfigurationReader& r) { r.ReadSocks(); },
        [](CConfigurationReader&) {},
        [](CConfigurationReader&) {},
        [](CConfigurationReader& r) { r.ReadClientPriority(); },
    };
    for (int step = std::max(first, 1); step <= std::min(last, kStepCount); ++step)
        kSteps[static_cast<std::size_t>(step - 1)](*this);
}

void ReadConfiguration(COptions& options, IOptionsView& view, const std::vector<std::string>& arguments,
                       const std::string& configPath, unsigned processorCount) {
    CConfigurationReader reader(CollectOptionText(arguments, configPath), options, view, processorCount);
    reader.ReadSteps(1, CConfigurationReader::kStepCount);
    reader.ReadNotify();
}

} // namespace vantrel
