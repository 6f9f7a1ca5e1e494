#include "control/statuscommand.h"

#include "control/programdirlock.h"
#include "control/startplace.h"
#include "control/statusreport.h"
#include "platform/fileops.h"

#include <iostream>
#include <string_view>

namespace vantrel {

namespace {

constexpr int kUsageErrorCode = 2;
constexpr std::string_view kProgramDirOption = "--program-dir";

enum class EStatusFormat { Text, Json, Prometheus };

std::string Formatted(const StatusReport& report, EStatusFormat format) {
    switch (format) {
    case EStatusFormat::Json:
        return FormatStatusJson(report);
    case EStatusFormat::Prometheus:
        return FormatStatusPrometheus(report);
    case EStatusFormat::Text:
        break;
    }
    return FormatStatusText(report);
}

} // namespace

int RunStatusCommand(int argc, char** argv, const StatusAsker& ask) {
    EStatusFormat format = EStatusFormat::Text;
    std::string programDir;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--status")
            continue;
        if (word == "--json" || word == "--prometheus") {
            format = word == "--json" ? EStatusFormat::Json : EStatusFormat::Prometheus;
        } else if (word == kProgramDirOption && i + 1 < argc) {
            programDir = argv[++i];
        } else if (word.starts_with(std::string(kProgramDirOption) + "=")) {
            programDir = std::string(word.substr(kProgramDirOption.size() + 1));
        } else {
            std::cerr << "vantrel: --status takes only --json, --prometheus and --program-dir DIR, not \"" << word
                      << "\"\n";
            return kUsageErrorCode;
        }
    }
    if (programDir.empty()) {
        const StartPlace place = FindStartPlace({}, argc > 0 ? argv[0] : "");
        if (!place.error.empty()) {
            std::cerr << "vantrel: " << place.error << "\n";
            return 1;
        }
        programDir = place.where.directory;
    }
    if (!platform::IsDirectory(programDir)) {
        std::cerr << "vantrel: " << programDir << " is not a directory\n";
        return kUsageErrorCode;
    }
    for (const std::string& answer : ask(programDir)) {
        if (std::optional<StatusReport> report = DecodeStatus(answer)) {
            std::cout << Formatted(*report, format);
            return 0;
        }
    }
    std::cout << Formatted(ReadStatusFromDisk(programDir, "vantrel"), format);
    if (platform::IsFileLockedByOther(CProgramDirLock::LockPath(programDir))) {
        const auto holder = CProgramDirLock::ReadHolder(programDir);
        std::cerr << "vantrel: the Vantrel"
                  << (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) << " in " << programDir
                  << " did not answer (an older version, or not yet listening); the counters are read from the disk\n";
        return 1;
    }
    std::cerr << "vantrel: no Vantrel runs in " << programDir << "; the counters are read from the disk\n";
    return kStatusNoneRunning;
}

} // namespace vantrel
