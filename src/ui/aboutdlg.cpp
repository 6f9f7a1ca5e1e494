#include "ui/aboutdlg.h"

#include <QDesktopServices>
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

QUrl VantrelHomeUrl() {
    // A web address or an absolute path, chosen when the program is configured.
    return QUrl::fromUserInput(QString::fromUtf8(VANTREL_HOME_URL));
}

CAboutDlg::CAboutDlg(QWidget* parent, UrlOpener openUrl)
    : QDialog(parent), m_openUrl(openUrl ? std::move(openUrl) : &QDesktopServices::openUrl) {
    setWindowTitle(QStringLiteral("About Vantrel"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(LoadApplicationIcon().pixmap(32, 32));

    auto* version = new QLabel(FormatVersionLine(CompiledVersion()), this);
    version->setProperty(kControlIdProperty, IDC_VERSION);

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
    layout->addWidget(version, 1);
    layout->addLayout(buttons);
}

void CAboutDlg::OnHome() {
    // Whether a browser opened is not reported: the box has nothing to tell the user about it.
    static_cast<void>(m_openUrl(VantrelHomeUrl()));
}

} // namespace vantrel
