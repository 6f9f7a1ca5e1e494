#pragma once

#include <QByteArray>
#include <string>

// Where the window stood when the program last ended in a program directory, kept apart from
// vantrel.cfg (whose format other copies and tools read) in the user's configuration folder.
namespace vantrel {

// $XDG_CONFIG_HOME/vantrel/windows.ini, else ~/.config/vantrel/windows.ini; empty without either.
std::string WindowPlacePath();

// The geometry saved for programDir (QWidget::saveGeometry), or empty. Anything but a regular file
// of a sane size under the file's name is ignored, so it never blocks or slows the start.
QByteArray LoadWindowPlace(const std::string& programDir);
// Keeps geometry for programDir; false when the file cannot be written or is no such file.
bool SaveWindowPlace(const std::string& programDir, const QByteArray& geometry);

} // namespace vantrel
