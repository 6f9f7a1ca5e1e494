#include "core/configfile.h"

#include "core/optiontext.h"
#include "platform/fileops.h"

#include <filesystem>

namespace vantrel {

namespace {

// The file may hold a socks password.
constexpr unsigned kConfigurationMode = 0600;

// The lines of content without their CR LF or LF ends; a last line without an end counts too.
std::vector<std::string_view> SplitLines(std::string_view content) {
    std::vector<std::string_view> lines;
    while (!content.empty()) {
        std::size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line.substr(0, line.find('\0')));
    }
    return lines;
}

} // namespace

std::string GetConfigurationPath(std::string_view executablePath) {
    if (executablePath.empty())
        return {};
    return std::filesystem::path(executablePath).replace_extension(".cfg").string();
}

std::string CollectOptionText(const std::vector<std::string>& arguments, const std::string& configPath) {
    std::string text;
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        if (k > 0)
            text.push_back(' ');
        text += arguments[k];
    }
    if (configPath.empty())
        return text;
    // One byte more than the cap tells a file that is too long from one that fits exactly.
    auto content = platform::ReadFileText(configPath, kMaxConfigurationBytes + 1);
    if (!content)
        return text;
    std::string_view data = *content;
    if (data.size() > kMaxConfigurationBytes) {
        data = data.substr(0, kMaxConfigurationBytes);
        std::size_t lastEnd = data.rfind('\n');
        data = data.substr(0, lastEnd == std::string_view::npos ? 0 : lastEnd + 1);
    }
    for (std::string_view line : SplitLines(data)) {
        text.push_back(' ');
        text += line;
    }
    return text;
}

std::string FormatConfiguration(const COptions& options, bool minimised, unsigned processorCount) {
    std::string text;
    auto writeLine = [&text](std::string_view line) {
        text += line;
        text += "\r\n";
    };
    auto isBlank = [](std::string_view value) { return TrimOptionWhiteSpace(value).empty(); };

    if (minimised)
        writeLine("-min");
    if (!options.HideProcessing)
        writeLine("-nohide");
    if (options.AutoTransmit)
        writeLine("-auto");
    if (options.DisplayTransmit)
        writeLine("-DisplayTransmit");
    if (options.MaxProcesses != processorCount)
        writeLine("-cpu " + std::to_string(options.MaxProcesses));
    if (options.SetAffinity && processorCount >= 2)
        writeLine("-affinity");
    if (options.ClientPriority == CP_HIGH)
        writeLine("-runhigh");
    else if (options.ClientPriority == CP_NORMAL)
        writeLine("-runnormal");

    // A blank host would make the next line's keyword read back as the host.
    std::string_view host = TrimOptionWhiteSpace(options.ServerHost);
    EServerMode mode = options.ServerMode;
    if (!host.empty()) {
        // A value that would not read back whole goes in double quotes; others as always.
        std::string hostSpec = QuoteOptionValue(FormatHostSpec(host, options.ServerPort, options.UseColon));
        if (mode == SM_PROXY)
            writeLine("-proxy " + hostSpec);
        if (mode == SM_SOCKS) {
            writeLine("-socks_server " + hostSpec);
            if (!isBlank(options.SocksUser))
                writeLine("-socks_user " + QuoteOptionValue(options.SocksUser));
            if (!isBlank(options.SocksPassword))
                writeLine("-socks_passwd " + QuoteOptionValue(options.SocksPassword));
        }
    }

    if (options.UseSpy)
        writeLine("-ORVASpy");
    if (options.MonitorProgress)
        writeLine("-verbose");
    if (options.Use24HourClock)
        writeLine("-24hr");
    if (options.CreateLog)
        writeLine("-ORVALog");
    if (options.NotifyProblems)
        writeLine(options.NotifyAfterHours == kDefaultNotifyAfterHours
                      ? std::string("-notify")
                      : "-notify " + std::to_string(options.NotifyAfterHours));
    return text;
}

bool SaveConfiguration(const std::string& path, const COptions& options, bool minimised, unsigned processorCount) {
    if (path.empty())
        return false;
    return platform::WriteFileAtomically(path, FormatConfiguration(options, minimised, processorCount),
                                         kConfigurationMode);
}

} // namespace vantrel
