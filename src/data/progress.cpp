#include "data/progress.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/cachestore.h"
#include "core/clientcontract.h"
#include "data/timeformat.h"
#include "platform/file.h"
#include "platform/fileops.h"

namespace vantrel {

namespace {
constexpr std::string_view kCpuKey = "cpu=";
constexpr std::string_view kProgKey = "prog=";

// A double as a float. A finite value beyond the float range saturates at the largest float, so
// a huge estimate stays huge instead of turning into an infinity (which reads as no estimate).
float NarrowToFloat(double value) {
    constexpr double largest = std::numeric_limits<float>::max();
    if (std::isfinite(value))
        value = std::clamp(value, -largest, largest);
    return static_cast<float>(value);
}
} // namespace

ProgressFigures MakeProgressFigures(const ProgressValues& values, bool use24HourClock, std::time_t now) {
    double total = static_cast<double>(values.Cpu) / static_cast<double>(values.Prog);
    float left = NarrowToFloat(total - static_cast<double>(values.Cpu));

    ProgressFigures figures;
    DurationParts t = SplitDuration(total);
    figures.TotalText = FormatDuration(t.Days, t.Hours, t.Minutes, use24HourClock);
    DurationParts l = SplitDuration(left);
    figures.LeftText = FormatDuration(l.Days, l.Hours, l.Minutes, use24HourClock);
    std::time_t completion =
        now + std::time_t{l.Days} * 86400 + std::time_t{l.Hours} * 3600 + std::time_t{l.Minutes} * 60;
    figures.CompletionText = FormatClockTime(completion, now, use24HourClock);
    figures.Fraction = values.Prog;
    return figures;
}

CProgressMonitor::CProgressMonitor(const CCacheStore& store) : m_store(store) {}

CProgressMonitor::~CProgressMonitor() = default;

ProgressFigures CProgressMonitor::UpdateProgress(std::uint32_t watchedInstance, bool use24HourClock, std::time_t now) {
    if (watchedInstance == 0)
        return {};
    std::string path = platform::JoinPath(m_store.GetInstancePath(watchedInstance), contract::kStateFile);
    std::optional<ProgressValues> values = ReadProgressValues(path);
    if (!values)
        return {};
    return MakeProgressFigures(*values, use24HourClock, now);
}

std::optional<ProgressValues> CProgressMonitor::ReadProgressValues(const std::string& path) {
    std::optional<ProgressValues> values = ReadWithReader(path);
    // Where an open file cannot be replaced, the reader must not be open when the client next
    // puts a new state file in place.
    if (platform::OpenFileBlocksReplacement())
        CloseReader();
    return values;
}

std::optional<ProgressValues> CProgressMonitor::ReadWithReader(const std::string& path) {
    if (m_file.IsValid() && path != m_strReaderPath)
        CloseReader();
    if (m_file.IsValid()) {
        // The client may replace the file instead of rewriting it; the open reader would go on
        // showing the old one. A file that has gone cannot be opened.
        if (!m_file.IsSameFileAs(path))
            CloseReader();
    }
    if (!m_file.IsValid() && !OpenReader(path))
        return std::nullopt;

    if (!m_reader->Rewind()) {
        CloseReader();
        return std::nullopt;
    }
    ProgressValues values;
    bool cpuSeen = false;
    bool progSeen = false;
    std::string line;
    while (!(cpuSeen && progSeen)) {
        CLineReader::ReadStatus status = m_reader->ReadLine(line);
        if (status == CLineReader::ReadStatus::Error)
            return std::nullopt;
        if (status == CLineReader::ReadStatus::End)
            break;
        if (ReadProgressKey(line, kCpuKey, values.Cpu))
            cpuSeen = true;
        else if (ReadProgressKey(line, kProgKey, values.Prog))
            progSeen = true;
    }
    return values;
}

bool CProgressMonitor::OpenReader(const std::string& path) {
    // Read-only and never created; the client goes on writing it meanwhile.
    m_file = OpenRegularFile(path, {});
    if (!m_file.IsValid())
        return false;
    m_strReaderPath = path;
    m_reader.emplace(m_file);
    return true;
}

void CProgressMonitor::CloseReader() {
    m_reader.reset();
    m_file.Close();
    m_strReaderPath.clear();
}

} // namespace vantrel
