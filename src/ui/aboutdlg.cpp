#include "ui/aboutdlg.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/systemtray.h"

namespace vantrel {

namespace {

const char* const kControlIdProperty = "controlId";

} // namespace

std::optional<VersionInfo> CompiledVersion() {
#if defined(VANTREL_VERSION_MAJOR) && defined(VANTREL_VERSION_MINOR) && defined(VANTREL_VERSION_PATCH) &&             \
    defined(VANTREL_VERSION_TWEAK)
    VersionInfo version;
    // "+ 0" turns a part the build left empty into 0.
    version.parts = {VANTREL_VERSION_MAJOR + 0u, VANTREL_VERSION_MINOR + 0u, VANTREL_VERSION_PATCH + 0u,
                     VANTREL_VERSION_TWEAK + 0u};
#if defined(VANTREL_PRERELEASE)
    version.prerelease = (VANTREL_PRERELEASE + 0) != 0;
#endif
    return version;
#else
    return std::nullopt;
#endif
}

QString FormatVersionLine(const std::optional<VersionInfo>& version) {
    if (!version)
        return QStringLiteral("Vantrel Version UNKNOWN");
    QString line = QString::asprintf("Vantrel %u.%u.%u.%u", version->parts[0], version->parts[1], version->parts[2],
                                     version->parts[3]);
    if (version->prerelease)
        line += QStringLiteral(" BETA");
    return line;
}

QUrl ChooseHomePage(const QStringList& readmes, const QString& projectUrl, const QString& spareDirectory) {
    for (const QString& readme : readmes) {
        if (!readme.isEmpty() && QFileInfo(readme).isFile())
            return QUrl::fromLocalFile(readme);
    }
    if (!projectUrl.isEmpty())
        return QUrl::fromUserInput(projectUrl);
    // Neither installed nor beside its source: the README the program carries, put where a
    // browser can open it.
    const QString spare = QDir(spareDirectory).filePath(QStringLiteral("vantrel-README.md"));
    QFile::remove(spare);
    QFile::copy(QStringLiteral(":/README.md"), spare);
    return QUrl::fromLocalFile(spare);
}

QUrl VantrelHomeUrl() {
    // The installed README (or the page the build named), then the README of the source tree a
    // portable copy was built from, then the project's address.
    const QString configured = QString::fromUtf8(VANTREL_HOME_URL);
    QStringList readmes{QString::fromUtf8(VANTREL_SOURCE_README)};
    if (configured.startsWith(QLatin1Char('/')))
        readmes.prepend(configured);
    else if (!configured.isEmpty())
        return QUrl::fromUserInput(configured);
    return ChooseHomePage(readmes, QString::fromUtf8(VANTREL_PROJECT_URL),
                          QStandardPaths::writableLocation(QStandardPaths::TempLocation));
}

CAboutDlg::CAboutDlg(QWidget* parent, UrlOpener openUrl)
    : QDialog(parent), m_openUrl(openUrl ? std::move(openUrl) : &QDesktopServices::openUrl) {
    setWindowTitle(QStringLiteral("About Vantrel"));
    // Modal for the main dialog only (its parent), never for the tray icon.
    setWindowModality(Qt::WindowModal);

    auto* icon = new QLabel(this);
    icon->setPixmap(LoadApplicationIcon().pixmap(32, 32));
    icon->setAccessibleName(QStringLiteral("Vantrel"));

    auto* version = new QLabel(FormatVersionLine(CompiledVersion()), this);
    version->setProperty(kControlIdProperty, IDC_VERSION);
    auto* what = new QLabel(QString::fromUtf8(kAboutDescription), this);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setProperty(kControlIdProperty, IDOK_BUTTON);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* home = new QPushButton(QStringLiteral("Vantrel Home"), this);
    home->setProperty(kControlIdProperty, IDC_HOME);
    connect(home, &QPushButton::clicked, this, &CAboutDlg::OnHome);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(home);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(what);
    texts->addStretch();
    layout->addLayout(texts, 1);
    layout->addLayout(buttons);
}

void CAboutDlg::OnHome() {
    // Whether a browser opened is not reported: the box has nothing to tell the user about it.
    static_cast<void>(m_openUrl(VantrelHomeUrl()));
}

} // namespace vantrel
