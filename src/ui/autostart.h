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

// Whether the entry is there, in a real folder of this user.
bool IsStartAtLogin();

// Writes the entry that starts program minimised (into the tray), or removes it. The folder is
// made (0700) when missing; a folder that is a link or someone else's is not written into, and a
// link in the entry's place is replaced, not followed. False when it cannot be done.
bool SetStartAtLogin(bool on, const std::string& program);

// program as one argument of a desktop entry's Exec line: quoted, with ", `, $ and \ escaped.
QString QuoteExecArgument(const QString& program);

} // namespace vantrel
