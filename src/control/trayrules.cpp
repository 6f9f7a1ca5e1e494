#include "control/trayrules.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string_view>

namespace vantrel {

namespace {

std::string FormatCount(const char* format, unsigned count) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, count);
    return buffer;
}

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Drops line feeds and "; " separators left at the end of a cut tip.
void TrimDanglingSeparators(std::string& tip) {
    for (;;) {
        std::string_view view(tip);
        if (view.ends_with('\n'))
            tip.pop_back();
        else if (view.ends_with("; "))
            tip.resize(tip.size() - 2);
        else
            return;
    }
}

} // namespace

unsigned ChooseTrayIcon(bool transmitRunning, unsigned processingCount, unsigned waitingToProcess,
                        unsigned readyToTransmit, unsigned needToFill) {
    if (transmitRunning)
        return kIconTransmitting;
    // Compared one by one: a sum of two counts could wrap round to 0.
    if (processingCount == 0 && waitingToProcess == 0)
        return kIconNoWorkUnit;
    if (readyToTransmit == 0 && needToFill == 0)
        return kIconWorkHeld;
    return kIconWorkPending;
}

std::string ComposeTrayTip(bool monitorProgress, float percent, unsigned readyToTransmit, unsigned needToFill,
                           bool logUnwritable) {
    std::string tip = "Vantrel";
    if (logUnwritable) {
        tip += kLogUnwritableTip;
    } else if (monitorProgress) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, " - Current WU %.2lf%%", static_cast<double>(percent));
        tip += buffer;
    }
    std::string ret = readyToTransmit > 0 ? FormatCount("%u to Return", readyToTransmit) : std::string();
    std::string fill = needToFill > 0 ? FormatCount("%u to Fill", needToFill) : std::string();
    if (!ret.empty() || !fill.empty())
        tip += '\n';
    tip += ret;
    if (!ret.empty() && !fill.empty())
        tip += "; ";
    tip += fill;
    return tip;
}

std::string FitTrayTip(const std::string& tip, std::size_t maxBytes) {
    if (tip.size() <= maxBytes)
        return tip;

    // The last break between parts that keeps the text within the limit.
    std::size_t cut = 0;
    for (std::size_t p = 1; p <= maxBytes; ++p) {
        if (tip[p] == '\n' || tip.compare(p, 2, "; ") == 0)
            cut = p;
    }
    if (cut == 0) {
        cut = maxBytes;
        while (cut > 0 && IsUtf8Continuation(tip[cut]))
            --cut;
    }
    std::string fitted = tip.substr(0, cut);
    TrimDanglingSeparators(fitted);
    return fitted;
}

float BarPercentOf(float fraction) {
    if (std::isnan(fraction) || fraction <= 0.0f)
        return 0.0f;
    return fraction > 1.0f ? 100.0f : fraction * 100.0f;
}

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    long long product = static_cast<long long>(a) * b;
    long long divisor = std::llabs(static_cast<long long>(c));
    long long quotient = (std::llabs(product) + divisor / 2) / divisor;
    if ((product < 0) != (c < 0))
        quotient = -quotient;
    if (quotient < INT_MIN || quotient > INT_MAX)
        return -1;
    return static_cast<int>(quotient);
}

int PercentBarSplit(float percent, int width) {
    // Out-of-range values would make the conversion to int undefined.
    if (!(percent > 0.0f))
        return 0;
    if (percent > 100.0f)
        percent = 100.0f;
    int x = MulDiv(static_cast<int>(percent * 100), width, 10000);
    return x < 0 ? 0 : x;
}

std::string PercentLabelText(float percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2lf %%", static_cast<double>(percent));
    return text;
}

} // namespace vantrel
