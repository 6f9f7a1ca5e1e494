#include "ui/autostart.h"

#include <QDir>
#include <cstdlib>

#include "platform/fileops.h"
#include "ui/clientchooser.h"

namespace vantrel {

std::string UserConfigDirectory() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return xdg;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return platform::JoinPath(home, ".config");
    return {};
}

namespace {
constexpr std::string_view kEntryName = "vantrel.desktop";

// The autostart folder; empty without a configuration folder.
std::string AutostartDirectory() {
    const std::string config = UserConfigDirectory();
    return config.empty() ? std::string() : platform::JoinPath(config, "autostart");
}
} // namespace

std::string AutostartEntryPath() {
    const std::string dir = AutostartDirectory();
    return dir.empty() ? std::string() : platform::JoinPath(dir, kEntryName);
}

bool IsStartAtLogin() {
    const std::string dir = AutostartDirectory();
    return !dir.empty() && platform::IsFileInOwnDirectory(dir, kEntryName);
}

QString QuoteExecArgument(const QString& program) {
    QString quoted;
    for (QChar c : program) {
        // Inside quotes these four are escaped, and the file format escapes the backslash again.
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\\'))
            quoted += QStringLiteral("\\\\\\");
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool SetStartAtLogin(bool on, const std::string& program) {
    // The folder may be a link to, or belong to, someone else: the entry is written only into a
    // real folder of ours, and never through a link of its name.
    const std::string dir = AutostartDirectory();
    if (dir.empty())
        return false;
    if (!on)
        return platform::DeleteFileInOwnDirectory(dir, kEntryName);
    if (!QDir().mkpath(PathToQString(platform::DirectoryPart(dir))))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Vantrel\n"
                                         "Comment=Keeps a cache of ORVA work units and drives the ORVA client\n"
                                         "Exec=%1 -min\n"
                                         "Icon=vantrel\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(QuoteExecArgument(PathToQString(program)));
    return platform::WriteFileInOwnDirectory(dir, kEntryName, entry.toStdString(), 0644);
}

} // namespace vantrel
