#pragma once

#include <QString>
#include <string>

// "Start at login": a desktop entry in the user's autostart folder, which every freedesktop
// session (GNOME, KDE Plasma, Xfce, ...) starts at login.
namespace vantrel {

// $XDG_CONFIG_HOME, else ~/.config; empty without either.
std::string UserConfigDirectory();

// $XDG_CONFIG_HOME/autostart/vantrel.desktop, else ~/.config/autostart/vantrel.desktop.
std::string AutostartEntryPath();

// Whether the entry is there.
bool IsStartAtLogin();

// Writes the entry that starts program minimised (into the tray), or removes it. False when the
// folder or the file cannot be written.
bool SetStartAtLogin(bool on, const std::string& program);

// program as one argument of a desktop entry's Exec line: quoted, with ", `, $ and \ escaped.
QString QuoteExecArgument(const QString& program);

} // namespace vantrel
