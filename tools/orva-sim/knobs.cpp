#include "knobs.h"

#include "datafiles.h"
#include "platform/process.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sstream>

namespace orvasim {

namespace {

// OwnChance: a chance that the shared failure rate does not set.
enum class KnobKind { Path, Seconds, Interval, Chance, OwnChance };

struct KnobInfo {
    const char* name;
    KnobKind kind;
    double Knobs::*value; // null for the server path and the shared failure rate
    const char* help;
};

constexpr const char* kFailRate = "ORVA_SIM_FAIL_RATE";
// Longer waits than this are certainly a typing error, and would overflow the clock.
constexpr double kMaxSeconds = 1e7;

const KnobInfo kKnobs[] = {
    {"ORVA_SIM_SERVER", KnobKind::Path, nullptr,
     "project server directory, an absolute path (default: orva-server beside the program)"},
    {"ORVA_SIM_PROCESS_SECONDS", KnobKind::Seconds, &Knobs::processSeconds, "wall seconds a processing run takes"},
    {"ORVA_SIM_STATE_INTERVAL", KnobKind::Interval, &Knobs::stateInterval, "seconds between writes of state.orv"},
    {"ORVA_SIM_TRANSFER_SECONDS", KnobKind::Seconds, &Knobs::transferSeconds, "seconds one upload or download takes"},
    {"ORVA_SIM_START_SECONDS", KnobKind::Seconds, &Knobs::startSeconds,
     "seconds a run takes to start, working in its directory before it locks lock.orv"},
    {"ORVA_SIM_FAIL_TRANSFER", KnobKind::Chance, &Knobs::failTransfer,
     "chance that a transmit run cannot reach the server (result.orv stays)"},
    {"ORVA_SIM_PARTIAL_DOWNLOAD", KnobKind::Chance, &Knobs::partialDownload,
     "chance that a download breaks off (wtemp.orv stays, no work unit)"},
    {"ORVA_SIM_HANG", KnobKind::Chance, &Knobs::hang,
     "chance that a processing run never writes state.orv and never ends"},
    {"ORVA_SIM_CRASH", KnobKind::Chance, &Knobs::crash, "chance that a processing run aborts half-way"},
    {kFailRate, KnobKind::Chance, nullptr, "chance used for each of the four failures above that is not set"},
    {"ORVA_SIM_EXIT_AT_ONCE", KnobKind::OwnChance, &Knobs::exitAtOnce,
     "chance that a processing run exits at once with code 1, touching nothing"},
    {"ORVA_SIM_HOLD_AFTER_RESULT", KnobKind::Seconds, &Knobs::holdAfterResult,
     "seconds a processing run keeps running, holding lock.orv, after its result is written"},
    {"ORVA_SIM_GRANDCHILD", KnobKind::OwnChance, &Knobs::grandchild,
     "chance that a run leaves a child running outside the instance directory, without the console title"},
    {"ORVA_SIM_GRANDCHILD_SESSION", KnobKind::OwnChance, &Knobs::grandchildSession,
     "chance that the child left running (ORVA_SIM_GRANDCHILD) also starts a session of its own"},
};

const KnobInfo* FindKnob(std::string_view name) {
    for (const KnobInfo& knob : kKnobs)
        if (name == knob.name)
            return &knob;
    return nullptr;
}

std::string_view Trim(std::string_view text) {
    const char* blanks = " \t\r";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool ParseNumber(std::string_view text, double& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// The value of one knob; nothing (with a message) when the text does not fit its kind.
std::optional<double> ParseValue(const KnobInfo& knob, const std::string& text, std::string& error) {
    double value = 0;
    bool ok = ParseNumber(text, value) && value >= 0;
    switch (knob.kind) {
    case KnobKind::Interval:
        ok = ok && value > 0 && value <= kMaxSeconds;
        break;
    case KnobKind::Chance:
    case KnobKind::OwnChance:
        ok = ok && value <= 1;
        break;
    default:
        ok = ok && value <= kMaxSeconds;
        break;
    }
    if (ok)
        return value;
    const bool chance = knob.kind == KnobKind::Chance || knob.kind == KnobKind::OwnChance;
    const char* expected = chance                            ? "a chance from 0 to 1"
                           : knob.kind == KnobKind::Interval ? "a number of seconds above 0"
                                                             : "a number of seconds, 0 or more";
    error = std::string(knob.name) + ": expected " + expected + ", got \"" + text + "\"";
    return std::nullopt;
}

bool ReadKnobsFile(const std::string& path, std::map<std::string, std::string>& values, std::string& error) {
    std::optional<std::string> text = ReadWholeFile(path);
    if (!text) {
        if (!PathExists(path))
            return true;
        error = path + ": cannot be read";
        return false;
    }
    std::istringstream lines(*text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::string_view content = Trim(line);
        if (content.empty() || content.front() == '#')
            continue;
        size_t equals = content.find('=');
        std::string where = path + " line " + std::to_string(number) + ": ";
        if (equals == std::string_view::npos) {
            error = where + "expected KEY=value";
            return false;
        }
        std::string name(Trim(content.substr(0, equals)));
        if (FindKnob(name) == nullptr) {
            error = where + "unknown knob \"" + name + "\"";
            return false;
        }
        // An empty value in the file brings the knob back to its default.
        std::string value(Trim(content.substr(equals + 1)));
        if (value.empty())
            values.erase(name);
        else
            values[name] = value;
    }
    return true;
}

} // namespace

bool LoadKnobs(const std::string& knobsFilePath, Knobs& knobs, std::string& error) {
    std::map<std::string, std::string> values;
    for (const KnobInfo& knob : kKnobs)
        if (const char* text = std::getenv(knob.name); text != nullptr && *text != '\0')
            values[knob.name] = text;
    if (!ReadKnobsFile(knobsFilePath, values, error))
        return false;
    if (auto failRate = values.find(kFailRate); failRate != values.end()) {
        if (!ParseValue(*FindKnob(kFailRate), failRate->second, error))
            return false;
        for (const KnobInfo& knob : kKnobs)
            if (knob.kind == KnobKind::Chance)
                values.try_emplace(knob.name, failRate->second);
    }
    for (const KnobInfo& knob : kKnobs) {
        auto found = values.find(knob.name);
        if (found == values.end())
            continue;
        if (knob.kind == KnobKind::Path) {
            // Each run has its instance directory as current directory: a relative path would
            // give every instance a server of its own, deleted with the instance.
            if (!std::filesystem::path(found->second).is_absolute()) {
                error = std::string(knob.name) + ": expected an absolute path, got \"" + found->second + "\"";
                return false;
            }
            knobs.serverDir = found->second;
            continue;
        }
        std::optional<double> value = ParseValue(knob, found->second, error);
        if (!value)
            return false;
        if (knob.value != nullptr)
            knobs.*knob.value = *value;
    }
    return true;
}

std::string KnobsHelp() {
    const Knobs defaults;
    std::ostringstream help;
    help << "Knobs (environment variables; a KEY=value line in " << kKnobsFile
         << " in the current directory overrides the environment):\n";
    for (const KnobInfo& knob : kKnobs) {
        help << "  " << knob.name << "\n      " << knob.help;
        if (knob.value != nullptr)
            help << " (default " << defaults.*knob.value << ")";
        help << "\n";
    }
    return help.str();
}

Failures DrawFailures(const Knobs& knobs) {
    auto now = std::chrono::system_clock::now().time_since_epoch().count();
    std::seed_seq seed{static_cast<long long>(vantrel::platform::CurrentProcessId()), static_cast<long long>(now)};
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    auto draw = [&](double chance) { return uniform(generator) < chance; };
    Failures failures;
    failures.failTransfer = draw(knobs.failTransfer);
    failures.partialDownload = draw(knobs.partialDownload);
    failures.hang = draw(knobs.hang);
    failures.crash = draw(knobs.crash);
    failures.exitAtOnce = draw(knobs.exitAtOnce);
    failures.grandchild = draw(knobs.grandchild);
    failures.grandchildSession = draw(knobs.grandchildSession);
    return failures;
}

} // namespace orvasim
