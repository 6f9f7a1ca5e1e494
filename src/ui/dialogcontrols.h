#pragma once

// The main dialog's controls in one table: each control's id, kind and caption, and the option,
// counter or handler it is bound to. Making, connecting, showing and reading the controls all
// read this table; only the grid positions are the layout's own.
#include "core/cachestore.h"
#include "core/configuration.h"
#include "core/options.h"
#include "data/progress.h"

#include <atomic>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

class CVantrelController;

// The controls' ids. Every control keeps its id, so tests, the end-to-end tests and tools that
// look into the window find it by number: the numbers never change.
enum EControlId : int {
    IDC_DESIRED_CACHE_SIZE = 1000,
    IDC_CURRENT_CACHE_SIZE = 1001,
    IDC_READY_TO_TRANSMIT = 1002,
    IDC_WAITING_TO_PROCESS = 1003,
    IDC_MAX_PROCESSES = 1004,
    IDC_EXIT = 1007,
    IDC_TRANSMIT = 1008,
    IDC_PROCESSING = 1011,
    IDC_HIDE_PROCESSING = 1012,
    IDC_NO_SERVER = 1013,
    IDC_PROXY_SERVER = 1014,
    IDC_SOCKS_SERVER = 1015,
    IDC_HOST_LABEL = 1016,
    IDC_PORT_LABEL = 1017,
    IDC_HOST = 1018,
    IDC_PORT = 1019,
    IDC_SOCKS_USER = 1020,
    IDC_SOCKS_PASSWORD = 1021,
    IDC_SOCKS_USER_LABEL = 1022,
    IDC_SOCKS_PASSWORD_LABEL = 1023,
    IDC_UPDATE_PROGRESS = 1026,
    IDC_NEW_CLIENT = 1028,
    IDC_PERCENT_BAR = 1029,
    IDC_TOTAL_TIME = 1030,
    IDC_AUTO_TRANSMIT = 1031,
    IDC_NEED_TO_FILL = 1032,
    IDC_MONITOR_PROGRESS = 1040,
    IDC_USE_SPY = 1041,
    IDC_TIME_LEFT = 1043,
    IDC_COMPLETION = 1044,
    IDC_24HOUR_CLOCK = 1045,
    IDC_CREATE_LOG = 1046,
    IDC_PRIORITY_LOW = 1048,
    IDC_PRIORITY_HIGH = 1049,
    IDC_PRIORITY_NORMAL = 1050,
    IDC_SAVE_CONFIG = 1051,
    IDC_USE_COLON = 1052,
    IDC_SET_AFFINITY = 1053,
    IDC_DISPLAY_TRANSMIT = 1054,
    IDC_NOTIFY_PROBLEMS = 1055,
};

enum EControlKind {
    CK_EDIT,    // a field the user types into
    CK_CHECK,   // a check box
    CK_RADIO,   // one of a group of radio buttons
    CK_COUNTER, // a count of the cache, in a sunken frame
    CK_BUTTON,  // a push button
    CK_LABEL,   // text the program writes, or the caption of a field
    CK_BAR,     // the percentage bar
};

// The option a group of radio buttons sets.
enum ERadioGroup { RG_SERVER_MODE, RG_CLIENT_PRIORITY };

// Something the controller does for a control.
using ControlAction = void (*)(CVantrelController& controller);

// One control. Only the fields of its kind are set.
struct DialogControl {
    EControlId id;
    EControlKind kind;
    const char* caption = nullptr; // as shown, '&' before the mnemonic
    const char* name = nullptr;    // read out by a screen reader where no caption stands beside it

    // An edit shows and reads a number (refused when parse refuses it) or a text.
    unsigned COptions::*number = nullptr;
    std::optional<unsigned> (*parse)(std::string_view text) = nullptr;
    std::string COptions::*text = nullptr;
    bool secret = false;             // shown as dots
    ControlAction onLeave = nullptr; // the user's edit ends: the focus left the field
    ControlAction onTyped = nullptr; // every change the user types

    // A check box mirrors flag; the controller hears every click.
    std::atomic<bool> COptions::*flag = nullptr;
    void (CVantrelController::*onCheck)(bool checked) = nullptr;

    // A radio button sets its group's option to value when the user checks it.
    ERadioGroup group = RG_SERVER_MODE;
    int value = 0;

    // A counter shows one of the cache's counts; a progress label one of the progress figures.
    unsigned CacheCounters::*counter = nullptr;
    std::string ProgressFigures::*figure = nullptr;

    // A button runs onClick (New Client, which asks for its file first, is the dialog's own).
    ControlAction onClick = nullptr;

    // A control of the server group, enabled by the server rules; a label's field.
    std::optional<EServerControl> server = std::nullopt;
    std::optional<EControlId> buddy = std::nullopt;
};

// Every control of the dialog, in the order of the dialog's description.
std::span<const DialogControl> DialogControls();

// The row of id, or null when the dialog has no such control.
const DialogControl* FindDialogControl(int id);

} // namespace vantrel
