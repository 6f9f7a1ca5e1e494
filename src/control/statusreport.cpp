#include "control/statusreport.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <vector>

#include "core/runningslots.h"
#include "platform/localtime.h"

namespace vantrel {

namespace {

// Each field once: its key on the socket and in JSON, and how it is read and written.
struct Field {
    const char* key;
    std::function<std::string(const StatusReport&)> get;
    std::function<bool(StatusReport&, std::string_view)> set;
    bool optional = false; // a copy from before the field came may leave it out
};

Field Optional(Field field) {
    field.optional = true;
    return field;
}

template <class TNumber> std::optional<TNumber> ParseNumber(std::string_view text) {
    TNumber value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

template <class TNumber> Field NumberField(const char* key, TNumber StatusReport::*member) {
    return {key, [member](const StatusReport& r) { return std::to_string(r.*member); },
            [member](StatusReport& r, std::string_view v) {
                auto value = ParseNumber<TNumber>(v);
                if (value)
                    r.*member = *value;
                return value.has_value();
            }};
}

Field CounterField(const char* key, unsigned CacheCounters::*member) {
    return {key, [member](const StatusReport& r) { return std::to_string(r.Counters.*member); },
            [member](StatusReport& r, std::string_view v) {
                auto value = ParseNumber<unsigned>(v);
                if (value)
                    r.Counters.*member = *value;
                return value.has_value();
            }};
}

Field FlagField(const char* key, bool StatusReport::*member) {
    return {key, [member](const StatusReport& r) { return std::string(r.*member ? "true" : "false"); },
            [member](StatusReport& r, std::string_view v) {
                r.*member = v == "true";
                return v == "true" || v == "false";
            }};
}

Field TextField(const char* key, std::string StatusReport::*member) {
    return {key, [member](const StatusReport& r) { return r.*member; },
            [member](StatusReport& r, std::string_view v) {
                r.*member = std::string(v);
                return true;
            }};
}

// One decimal, with a point whatever the locale: JSON, Prometheus and the socket all read a point.
std::string FormatPercent(double percent) {
    char text[64];
    auto written = std::to_chars(text, text + sizeof text, percent, std::chars_format::fixed, 1);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("0.0");
}

Field PercentField() {
    return {"progress_percent", [](const StatusReport& r) { return FormatPercent(r.ProgressPercent); },
            [](StatusReport& r, std::string_view v) {
                // An older copy under a decimal-comma locale wrote "12,5".
                std::string copy(v);
                std::replace(copy.begin(), copy.end(), ',', '.');
                auto value = ParseNumber<double>(copy);
                if (value)
                    r.ProgressPercent = *value;
                return value.has_value();
            }};
}

const std::vector<Field>& Fields() {
    static const std::vector<Field> fields = {
        TextField("program_dir", &StatusReport::ProgramDir),
        FlagField("running", &StatusReport::Running),
        CounterField("current_cache_size", &CacheCounters::CurrentCacheSize),
        CounterField("desired_cache_size", &CacheCounters::DesiredCacheSize),
        CounterField("processing", &CacheCounters::ProcessingCount),
        CounterField("waiting_to_process", &CacheCounters::WaitingToProcess),
        CounterField("ready_to_transmit", &CacheCounters::ReadyToTransmit),
        CounterField("need_to_fill", &CacheCounters::NeedToFill),
        FlagField("monitor_progress", &StatusReport::MonitorProgress),
        NumberField("watched_instance", &StatusReport::WatchedInstance),
        PercentField(),
        TextField("total_time", &StatusReport::TotalText),
        TextField("time_left", &StatusReport::LeftText),
        TextField("completion", &StatusReport::CompletionText),
        FlagField("transmit_running", &StatusReport::TransmitRunning),
        NumberField("last_pass_time", &StatusReport::LastPassEndedAt),
        TextField("last_pass_outcome", &StatusReport::LastPassOutcome),
        FlagField("retry_timer_armed", &StatusReport::RetryTimerArmed),
        NumberField("retry_due_in_seconds", &StatusReport::RetryDueInSeconds),
        Optional(FlagField("log_unwritable", &StatusReport::LogUnwritable)),
        Optional(NumberField("log_rows_lost", &StatusReport::LogRowsLost)),
    };
    return fields;
}

bool IsNumberKey(std::string_view key) {
    return key != "program_dir" && key != "running" && key != "monitor_progress" && key != "transmit_running" &&
           key != "retry_timer_armed" && key != "total_time" && key != "time_left" && key != "completion" &&
           key != "last_pass_outcome" && key != "log_unwritable";
}

// A line break or a percent sign in a value (a path may hold either) is written as %XX.
std::string EncodeValue(const std::string& value) {
    std::string out;
    for (unsigned char c : value) {
        if (c < 0x20 || c == '%' || c == 0x7f) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string DecodeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        unsigned byte = 0;
        if (value[i] == '%' && i + 2 < value.size() &&
            std::from_chars(value.data() + i + 1, value.data() + i + 3, byte, 16).ptr == value.data() + i + 3) {
            out += static_cast<char>(byte);
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

// Length of the valid UTF-8 sequence at text[i], or 0. Overlong forms, surrogates and values past
// U+10FFFF are not valid, though their bytes have the right shape.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80)
        return 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    char32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// JSON and Prometheus both want UTF-8: a byte of a path that is not is shown as U+FFFD.
std::string Escaped(std::string_view text, bool json) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Length(text, i);
        const char c = text[i];
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (json && static_cast<unsigned char>(c) < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c));
            out += hex;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string LocalTime(std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    char text[32] = "";
    if (const auto parts = platform::LocalTimeOf(time))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &*parts);
    return text;
}

} // namespace

std::string EncodeStatus(const StatusReport& report) {
    std::string text;
    for (const Field& field : Fields())
        text += std::string(field.key) + "=" + EncodeValue(field.get(report)) + "\n";
    return text;
}

std::optional<StatusReport> DecodeStatus(std::string_view text) {
    std::map<std::string, std::string, std::less<>> values;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos)
            values[std::string(line.substr(0, equals))] = DecodeValue(line.substr(equals + 1));
    }
    StatusReport report;
    for (const Field& field : Fields()) {
        auto it = values.find(field.key);
        if (it == values.end() && field.optional)
            continue;
        if (it == values.end() || !field.set(report, it->second))
            return std::nullopt;
    }
    return report;
}

std::string FormatStatusText(const StatusReport& r) {
    const CacheCounters& c = r.Counters;
    std::string text = "Vantrel in " + r.ProgramDir + ": " +
                       (r.Running ? "running" : "not running (the counters are read from the disk)") + "\n";
    text += "Current Cache Size: " + std::to_string(c.CurrentCacheSize) + "\n";
    text += "Desired Cache Size: " + std::to_string(c.DesiredCacheSize) + "\n";
    text += "Processing: " + std::to_string(c.ProcessingCount) + "\n";
    text += "Waiting to Process: " + std::to_string(c.WaitingToProcess) + "\n";
    text += "Ready to Transmit: " + std::to_string(c.ReadyToTransmit) + "\n";
    text += "Need to Fill: " + std::to_string(c.NeedToFill) + "\n";
    if (!r.Running)
        return text;
    if (!r.MonitorProgress || r.WatchedInstance == 0) {
        text += std::string("Watched work unit: ") + (r.MonitorProgress ? "none" : "progress not monitored") + "\n";
    } else {
        char percent[32];
        std::snprintf(percent, sizeof percent, "%.1f%%", r.ProgressPercent);
        text += "Watched work unit: instance " + std::to_string(r.WatchedInstance) + ", " + percent + " done, total " +
                r.TotalText + ", left " + r.LeftText + ", done at " + r.CompletionText + "\n";
    }
    text += std::string("Transmit pass: ") + (r.TransmitRunning ? "running" : "not running") + "\n";
    text += "Last pass: " +
            (r.LastPassEndedAt == 0 ? std::string("none yet") : LocalTime(r.LastPassEndedAt) + ", " + r.LastPassOutcome) +
            "\n";
    text += "Retry timer: " +
            (r.RetryTimerArmed ? "armed, fires in " + std::to_string(r.RetryDueInSeconds) + " s" : std::string("not armed")) +
            "\n";
    text += std::string("Result log: ") +
            (r.LogUnwritable ? "ORVALog.csv cannot be written; results wait for their rows" : "no write has failed") +
            ", " + std::to_string(r.LogRowsLost) + (r.LogRowsLost == 1 ? " row" : " rows") + " lost\n";
    return text;
}

std::string FormatStatusJson(const StatusReport& report) {
    std::string json = "{";
    bool first = true;
    for (const Field& field : Fields()) {
        const std::string key = field.key;
        std::string value = field.get(report);
        // What a copy that does not run cannot know is null, not a made-up zero.
        const bool unknown = (!report.Running && key != "program_dir" && key != "running" &&
                              key.find("cache_size") == std::string::npos && key != "processing" &&
                              key != "waiting_to_process" && key != "ready_to_transmit" && key != "need_to_fill") ||
                             (key.starts_with("last_pass") && report.LastPassEndedAt == 0) ||
                             (key == "retry_due_in_seconds" && !report.RetryTimerArmed);
        if (unknown)
            value = "null";
        else if (!IsNumberKey(key) && value != "true" && value != "false")
            value = "\"" + Escaped(value, true) + "\"";
        json += (first ? "\"" : ", \"") + key + "\": " + value;
        first = false;
    }
    return json + "}\n";
}

std::string FormatStatusPrometheus(const StatusReport& r) {
    const std::string label = "{program_dir=\"" + Escaped(r.ProgramDir, false) + "\"}";
    std::string text;
    auto metric = [&](const char* name, const char* help, const std::string& value, const char* type = "gauge") {
        text += std::string("# HELP vantrel_") + name + " " + help + "\n";
        text += std::string("# TYPE vantrel_") + name + " " + type + "\n";
        text += std::string("vantrel_") + name + label + " " + value + "\n";
    };
    auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    const CacheCounters& c = r.Counters;
    metric("up", "Whether a Vantrel copy runs in the program directory.", flag(r.Running));
    metric("cache_size", "Work-unit directories in the cache.", std::to_string(c.CurrentCacheSize));
    metric("desired_cache_size", "Work-unit directories the cache is to keep.", std::to_string(c.DesiredCacheSize));
    metric("processing", "Work units being processed.", std::to_string(c.ProcessingCount));
    metric("waiting_to_process", "Work units waiting to be processed.", std::to_string(c.WaitingToProcess));
    metric("ready_to_transmit", "Results waiting to be transmitted.", std::to_string(c.ReadyToTransmit));
    metric("need_to_fill", "Directories waiting for a work unit.", std::to_string(c.NeedToFill));
    if (!r.Running)
        return text;
    if (r.MonitorProgress && r.WatchedInstance != 0) {
        metric("watched_progress_percent", "Progress of the watched work unit, in percent.",
               FormatPercent(r.ProgressPercent));
    }
    metric("transmit_running", "Whether a transmit pass runs.", flag(r.TransmitRunning));
    if (r.LastPassEndedAt != 0) {
        metric("last_pass_timestamp_seconds", "When the last transmit pass ended, in seconds since the epoch.",
               std::to_string(r.LastPassEndedAt));
        metric("last_pass_failed", "Whether the last transmit pass failed.", flag(r.LastPassOutcome == "failed"));
    }
    metric("retry_timer_armed", "Whether the retry timer is armed.", flag(r.RetryTimerArmed));
    if (r.RetryTimerArmed)
        metric("retry_due_seconds", "Seconds until the retry timer fires.", std::to_string(r.RetryDueInSeconds));
    metric("log_unwritable", "Whether ORVALog.csv refuses rows, so that results wait for them.",
           flag(r.LogUnwritable));
    metric("log_rows_lost_total", "Results sent without their rows in ORVALog.csv since the start.",
           std::to_string(r.LogRowsLost), "counter");
    return text;
}

StatusReport ReadStatusFromDisk(const std::string& programDir, const std::string& ownFileName) {
    CRunningSlots slots;
    CCacheStore store(programDir, ownFileName, slots);
    StatusReport report;
    report.ProgramDir = programDir;
    report.Counters = CountCacheState(store, slots);
    return report;
}

} // namespace vantrel
