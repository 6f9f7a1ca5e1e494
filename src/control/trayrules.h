#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "core/cachestore.h"

// The notification-area icon's rules that need no toolkit: which icon shows the cache's state,
// the tooltip text, and the items of the icon's menu.
namespace vantrel {

// Icon ids; each names one picture (LoadVantrelIcon).
inline constexpr unsigned kIconWorkHeld = 128;     // cyan and blue dish pointing up
inline constexpr unsigned kIconNoWorkUnit = 130;   // red dish upside down
inline constexpr unsigned kIconTransmitting = 131; // green dish sending a signal
inline constexpr unsigned kIconWorkPending = 138;  // yellow dish pointing up

// The icon's own id, which is also the id of its menu.
inline constexpr unsigned kTrayIconId = 133;
inline constexpr const char* kTrayMenuName = "SYSTRAY_MENU";

// Commands of the icon's menu, delivered to the main dialog.
inline constexpr unsigned ID_SYSTRAY_ABOUT = 32772;
inline constexpr unsigned ID_SYSTRAY_TRANSMIT = 32773;
inline constexpr unsigned ID_SYSTRAY_RESTORE = 32774;
inline constexpr unsigned ID_SYSTRAY_EXIT = 32775;
inline constexpr unsigned ID_SYSTRAY_MINIMIZE = 32776;
inline constexpr unsigned ID_SYSTRAY_SAVECONFIG = 32779;
inline constexpr unsigned ID_SYSTRAY_STATISTICS = 32780;

// One item of the icon's menu; a separator has no text and command 0.
struct TrayMenuItem {
    const char* text;
    unsigned commandId;
};

inline constexpr std::array<TrayMenuItem, 11> kTrayMenuItems{{
    {"Exit", ID_SYSTRAY_EXIT},
    {nullptr, 0},
    {"Minimize", ID_SYSTRAY_MINIMIZE},
    {"Restore", ID_SYSTRAY_RESTORE},
    {nullptr, 0},
    {"Save Configuration", ID_SYSTRAY_SAVECONFIG},
    {nullptr, 0},
    {"About Vantrel", ID_SYSTRAY_ABOUT},
    {"Transmit", ID_SYSTRAY_TRANSMIT},
    {nullptr, 0},
    {"Statistics", ID_SYSTRAY_STATISTICS},
}};

// The longest tip the notification area takes, in bytes (its field holds 63 and a NUL).
inline constexpr std::size_t kMaxTrayTip = 63;

// The icon for the cache's state: transmitting wins; then no work unit held anywhere; then
// whether anything waits to be sent or fetched.
unsigned ChooseTrayIcon(bool transmitRunning, unsigned processingCount, unsigned waitingToProcess,
                        unsigned readyToTransmit, unsigned needToFill);

inline unsigned ChooseTrayIcon(bool transmitRunning, const CacheCounters& counters) {
    return ChooseTrayIcon(transmitRunning, counters.ProcessingCount, counters.WaitingToProcess,
                          counters.ReadyToTransmit, counters.NeedToFill);
}

// A completion fraction as the bar and the tooltip show it: 0 to 100, and 0 for no number.
float BarPercentOf(float fraction);

// a * b / c rounded to the nearest whole number (halves away from zero) through a 64-bit
// product; -1 when c is 0 or the result does not fit an int.
int MulDiv(int a, int b, int c);

// The filled width of a bar of the given width showing percent (0..100), rounded to the nearest
// pixel; never negative.
int PercentBarSplit(float percent, int width);

// The bar's label: two decimals, a blank and a percent sign ("45.50 %").
std::string PercentLabelText(float percent);

// The tooltip: "Vantrel", the watched work unit's percentage when monitoring is on, and on a
// second line what waits to be returned and filled. Not cut to kMaxTrayTip (FitTrayTip does).
// logUnwritable: the log refuses rows and results wait for them; said in place of the
// percentage, which the short tip has no room for beside it.
std::string ComposeTrayTip(bool monitorProgress, float percent, unsigned readyToTransmit, unsigned needToFill,
                           bool logUnwritable = false);

inline constexpr const char* kLogUnwritableTip = " - ORVALog.csv cannot be written";

// Cuts a tip to at most maxBytes. A cut keeps whole parts: it falls before a line feed or a
// "; " so no count is shown half; only a single part longer than the limit is cut inside, and
// then never inside a UTF-8 sequence. No line feed or "; " is left dangling at the end.
std::string FitTrayTip(const std::string& tip, std::size_t maxBytes = kMaxTrayTip);

} // namespace vantrel
