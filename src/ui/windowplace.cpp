#include "ui/windowplace.h"

#include <QCryptographicHash>
#include <QSettings>
#include <QString>

#include "platform/fileops.h"
#include "ui/autostart.h"
#include "ui/clientchooser.h"

namespace vantrel {

namespace {

// One group per program directory; a hash, since QSettings reads '/' in a key as nesting.
QString GroupFor(const std::string& programDir) {
    const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(programDir), QCryptographicHash::Sha1);
    return QString::fromLatin1(hash.toHex());
}

} // namespace

std::string WindowPlacePath() {
    const std::string config = UserConfigDirectory();
    return config.empty() ? std::string() : platform::JoinPath(config, "vantrel/windows.ini");
}

QByteArray LoadWindowPlace(const std::string& programDir) {
    const std::string path = WindowPlacePath();
    if (path.empty() || !platform::PathExists(path))
        return {};
    QSettings settings(PathToQString(path), QSettings::IniFormat);
    settings.beginGroup(GroupFor(programDir));
    return settings.value(QStringLiteral("geometry")).toByteArray();
}

bool SaveWindowPlace(const std::string& programDir, const QByteArray& geometry) {
    const std::string path = WindowPlacePath();
    if (path.empty())
        return false;
    QSettings settings(PathToQString(path), QSettings::IniFormat);
    settings.beginGroup(GroupFor(programDir));
    // The directory itself, so a person reading the file knows which copy a group belongs to.
    settings.setValue(QStringLiteral("directory"), PathToQString(programDir));
    settings.setValue(QStringLiteral("geometry"), geometry);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace vantrel
