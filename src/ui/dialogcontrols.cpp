#include "ui/dialogcontrols.h"

#include "control/vantrelcontroller.h"
#include "core/optiontext.h"

#include <algorithm>

namespace vantrel {

namespace {

using C = CVantrelController;

// One row a control, in the order of the dialog's description (the layout decides the tab order).
// clang-format off
constexpr DialogControl kControls[] = {
    {.id = IDC_MAX_PROCESSES, .kind = CK_EDIT, .number = &COptions::MaxProcesses, .parse = ParseMaxProcessesField,
     .onLeave = [](C& c) { c.ApplyMaxProcesses(); }},
    {.id = IDC_DESIRED_CACHE_SIZE, .kind = CK_EDIT, .number = &COptions::DesiredCacheSize,
     .parse = ParseDesiredCacheSizeField, .onLeave = [](C& c) { c.ApplyDesiredCacheSize(); }},
    {.id = IDC_CURRENT_CACHE_SIZE, .kind = CK_COUNTER, .counter = &CacheCounters::CurrentCacheSize},
    {.id = IDC_PROCESSING, .kind = CK_COUNTER, .counter = &CacheCounters::ProcessingCount},
    {.id = IDC_WAITING_TO_PROCESS, .kind = CK_COUNTER, .counter = &CacheCounters::WaitingToProcess},
    {.id = IDC_READY_TO_TRANSMIT, .kind = CK_COUNTER, .counter = &CacheCounters::ReadyToTransmit},
    {.id = IDC_NEED_TO_FILL, .kind = CK_COUNTER, .counter = &CacheCounters::NeedToFill},
    {.id = IDC_HIDE_PROCESSING, .kind = CK_CHECK, .caption = "&Hide Processing", .flag = &COptions::HideProcessing,
     .onCheck = &C::OnHideProcessing},
    {.id = IDC_AUTO_TRANSMIT, .kind = CK_CHECK, .caption = "&Auto Transmit", .flag = &COptions::AutoTransmit,
     .onCheck = &C::OnAutoTransmit},
    {.id = IDC_DISPLAY_TRANSMIT, .kind = CK_CHECK, .caption = "Display &Transmit", .flag = &COptions::DisplayTransmit,
     .onCheck = &C::OnDisplayTransmit},
    {.id = IDC_NO_SERVER, .kind = CK_RADIO, .caption = "No Proxy/Soc&ks", .group = RG_SERVER_MODE, .value = SM_NONE},
    {.id = IDC_PROXY_SERVER, .kind = CK_RADIO, .caption = "Pro&xy Server", .group = RG_SERVER_MODE, .value = SM_PROXY},
    {.id = IDC_SOCKS_SERVER, .kind = CK_RADIO, .caption = "&Socks Server", .group = RG_SERVER_MODE, .value = SM_SOCKS},
    {.id = IDC_HOST_LABEL, .kind = CK_LABEL, .caption = "H&ost:", .server = SRV_HOST_LABEL, .buddy = IDC_HOST},
    {.id = IDC_PORT_LABEL, .kind = CK_LABEL, .caption = "&Port:", .server = SRV_PORT_LABEL, .buddy = IDC_PORT},
    {.id = IDC_HOST, .kind = CK_EDIT, .text = &COptions::ServerHost, .server = SRV_HOST},
    // The port decides "Use Colon" as it is typed, and again when the field is left.
    {.id = IDC_PORT, .kind = CK_EDIT, .number = &COptions::ServerPort, .parse = ParseNumberField,
     .onLeave = [](C& c) { c.OnPortChanged(); }, .onTyped = [](C& c) { c.OnPortChanged(); }, .server = SRV_PORT},
    {.id = IDC_USE_COLON, .kind = CK_CHECK, .caption = "Use &Colon", .flag = &COptions::UseColon,
     .onCheck = &C::OnUseColon, .server = SRV_USE_COLON},
    {.id = IDC_SOCKS_USER_LABEL, .kind = CK_LABEL, .caption = "Socks &UserName:", .server = SRV_USER_LABEL,
     .buddy = IDC_SOCKS_USER},
    {.id = IDC_SOCKS_PASSWORD_LABEL, .kind = CK_LABEL, .caption = "Socks Passwo&rd:", .server = SRV_PASSWORD_LABEL,
     .buddy = IDC_SOCKS_PASSWORD},
    {.id = IDC_SOCKS_USER, .kind = CK_EDIT, .text = &COptions::SocksUser, .server = SRV_USER},
    {.id = IDC_SOCKS_PASSWORD, .kind = CK_EDIT, .text = &COptions::SocksPassword, .secret = true,
     .server = SRV_PASSWORD},
    {.id = IDC_MONITOR_PROGRESS, .kind = CK_CHECK, .caption = "Use Vantrel", .flag = &COptions::MonitorProgress,
     .onCheck = &C::OnMonitorProgress},
    {.id = IDC_USE_SPY, .kind = CK_CHECK, .caption = "Use ORVA Sp&y", .flag = &COptions::UseSpy,
     .onCheck = &C::OnUseSpy},
    {.id = IDC_24HOUR_CLOCK, .kind = CK_CHECK, .caption = "Use &24Hr Clock", .flag = &COptions::Use24HourClock,
     .onCheck = &C::On24HourClock},
    {.id = IDC_CREATE_LOG, .kind = CK_CHECK, .caption = "Create ORVA&Log.csv", .flag = &COptions::CreateLog,
     .onCheck = &C::OnCreateLog},
    {.id = IDC_PRIORITY_LOW, .kind = CK_RADIO, .caption = "Lo&w", .group = RG_CLIENT_PRIORITY, .value = CP_LOW},
    {.id = IDC_PRIORITY_HIGH, .kind = CK_RADIO, .caption = "H&igh", .group = RG_CLIENT_PRIORITY, .value = CP_HIGH},
    {.id = IDC_PRIORITY_NORMAL, .kind = CK_RADIO, .caption = "&Normal", .group = RG_CLIENT_PRIORITY,
     .value = CP_NORMAL},
    {.id = IDC_SET_AFFINITY, .kind = CK_CHECK, .caption = "Set Processor A&ffinity", .flag = &COptions::SetAffinity,
     .onCheck = &C::OnSetAffinity},
    {.id = IDC_TOTAL_TIME, .kind = CK_LABEL, .name = "Estimated total time", .figure = &ProgressFigures::TotalText},
    {.id = IDC_TIME_LEFT, .kind = CK_LABEL, .name = "Time left", .figure = &ProgressFigures::LeftText},
    {.id = IDC_COMPLETION, .kind = CK_LABEL, .name = "Completion", .figure = &ProgressFigures::CompletionText},
    {.id = IDC_PERCENT_BAR, .kind = CK_BAR, .name = "Progress of the current work unit"},
    {.id = IDC_UPDATE_PROGRESS, .kind = CK_BUTTON, .caption = "Update Progress Now",
     .onClick = [](C& c) { c.OnUpdateProgressNow(); }},
    {.id = IDC_SAVE_CONFIG, .kind = CK_BUTTON, .caption = "Save Confi&g", .onClick = [](C& c) { c.OnSaveConfig(); }},
    // The caption while no pass runs; the controller names it as passes begin and end.
    {.id = IDC_TRANSMIT, .kind = CK_BUTTON, .caption = "Transmit", .onClick = [](C& c) { c.OnTransmit(); }},
    {.id = IDC_EXIT, .kind = CK_BUTTON, .caption = "Exit", .onClick = [](C& c) { c.Exit(); }},
    {.id = IDC_NEW_CLIENT, .kind = CK_BUTTON, .caption = "N&ew Client"},
    {.id = IDC_NOTIFY_PROBLEMS, .kind = CK_CHECK, .caption = "Notify me of problems",
     .flag = &COptions::NotifyProblems, .onCheck = &C::OnNotifyProblems},
};
// clang-format on

} // namespace

std::span<const DialogControl> DialogControls() {
    return kControls;
}

const DialogControl* FindDialogControl(int id) {
    const auto* found = std::find_if(std::begin(kControls), std::end(kControls),
                                     [id](const DialogControl& row) { return row.id == id; });
    return found != std::end(kControls) ? found : nullptr;
}

} // namespace vantrel
