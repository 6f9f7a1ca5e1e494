#include "ui/autostart.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
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

std::string AutostartEntryPath() {
    const std::string config = UserConfigDirectory();
    return config.empty() ? std::string() : platform::JoinPath(config, "autostart/vantrel.desktop");
}

bool IsStartAtLogin() {
    const std::string path = AutostartEntryPath();
    return !path.empty() && platform::PathExists(path);
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
    const std::string path = AutostartEntryPath();
    if (path.empty())
        return false;
    if (!on)
        return !platform::PathExists(path) || platform::DeleteFile(path);
    if (!QDir().mkpath(PathToQString(platform::DirectoryPart(path))))
        return false;
    QSaveFile file(PathToQString(path));
    if (!file.open(QIODevice::WriteOnly))
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
    file.write(entry.toUtf8());
    return file.commit();
}

} // namespace vantrel
