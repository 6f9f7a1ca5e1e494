#pragma once

#include <string>

#include "core/configuration.h"
#include "data/progress.h"

namespace vantrel {

// System commands the dialog posts to itself.
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr unsigned SC_RESTORE = 0xF120;
inline constexpr unsigned kAboutCommand = 0x10;
inline constexpr unsigned kTransmitCommand = 0x20;
inline constexpr unsigned kStatisticsCommand = 0x40;

// What a window shows of the dialog's logic: the fields, counters and progress, the icon, the
// messages, a refused field, and the window's own state. Called on the front end's thread,
// except where noted. A program without a window has none.
class IDialogView {
public:
    virtual ~IDialogView() = default;

    // Copies every edit into its option (MaxProcesses, DesiredCacheSize, ServerHost, ServerPort,
    // SocksUser, SocksPassword). A number that is refused shows "Please enter a positive
    // integer.", puts the focus back on its field and leaves the option as it was: false then.
    virtual bool ReadFields() = 0;
    // ReadFields without a word to the user: a number that would be refused keeps its option's
    // earlier value. For reads the user did not ask for (an automatic pass starting).
    virtual void ReadFieldsQuietly() = 0;
    // Every number field holds a number it takes, so ReadFields would refuse nothing.
    virtual bool FieldsAcceptable() const = 0;
    // Writes every option and counter into its control, overwriting what was typed and not applied.
    virtual void ShowFields() = 0;

    virtual void SetIcon(unsigned iconId) = 0; // the dialog's and the tray's icon
    virtual void SetTrayTip(const std::string& tip) = 0;
    virtual void ShowProgress(const ProgressFigures& figures) = 0; // the three time fields and the bar
    // A line in the window that tells the user something went wrong without stopping anything.
    virtual void ShowNotice(const std::string& text) = 0;
    virtual void SetWaitCursor(bool on) = 0;
    virtual void EnableServerControls(const ServerControlStates& states) = 0;
    virtual void HideAffinityCheckBox() = 0;
    // Another copy runs: the title and the tooltip name this copy's program directory.
    virtual void ShowProgramDirectory(const std::string& dir) = 0;
    // Any thread: the transmit pass began or ended (Transmit caption and system-menu item).
    virtual void TransmitStateChanged(bool running) = 0;

    // The window itself.
    virtual void PostSysCommand(unsigned command) = 0; // runs after the current handler
    virtual bool IsMinimized() const = 0;
    virtual void EndDialog() = 0;
};

} // namespace vantrel
