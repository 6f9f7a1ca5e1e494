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

// The file is only ever small: a group of a few lines per program directory.
constexpr std::uint64_t kMaxPlaceFileBytes = 1u << 20;

// Whether the file is one to read or write: a FIFO, a device or a huge file under the name (the
// toolkit would open it blocking and read it whole) is left alone, as every other file we read.
bool IsUsablePlaceFile(const std::string& path) {
    return platform::IsRegularFile(path) &&
           platform::FileSize(path).value_or(kMaxPlaceFileBytes + 1) <= kMaxPlaceFileBytes;
}

} // namespace

std::string WindowPlacePath() {
    const std::string config = UserConfigDirectory();
    return config.empty() ? std::string() : platform::JoinPath(config, "vantrel/windows.ini");
}

QByteArray LoadWindowPlace(const std::string& programDir) {
    const std::string path = WindowPlacePath();
    if (path.empty() || !IsUsablePlaceFile(path))
        return {};
    QSettings settings(PathToQString(path), QSettings::IniFormat);
    settings.beginGroup(GroupFor(programDir));
    return settings.value(QStringLiteral("geometry")).toByteArray();
}

bool SaveWindowPlace(const std::string& programDir, const QByteArray& geometry) {
    const std::string path = WindowPlacePath();
    if (path.empty() || (platform::PathExists(path) && !IsUsablePlaceFile(path)))
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
