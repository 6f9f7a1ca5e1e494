#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <array>
#include <functional>
#include <optional>

namespace vantrel {

// The program's version as compiled in: four numbers and whether it is a pre-release.
struct VersionInfo {
    std::array<unsigned, 4> parts{};
    bool prerelease = false;
};

// The version the build compiled in; none when the build gave no version.
std::optional<VersionInfo> CompiledVersion();

// "Vantrel 1.2.3.4", with " BETA" after a pre-release; "Vantrel Version UNKNOWN" without a version.
QString FormatVersionLine(const std::optional<VersionInfo>& version);

// What Vantrel is, in the About box's one line.
inline constexpr const char* kAboutDescription =
    "Keeps a cache of ORVA work units and drives the ORVA command-line client.";

// The first of readmes that exists; else projectUrl; else the README compiled into the program,
// copied into spareDirectory.
QUrl ChooseHomePage(const QStringList& readmes, const QString& projectUrl, const QString& spareDirectory);

// The page the About box's home button opens: one that exists for every copy.
QUrl VantrelHomeUrl();

// The About box: the program's icon, its version line, "OK" and a button that opens the home page.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // Opens a page in the desktop's browser; tests give their own so no browser starts.
    using UrlOpener = std::function<bool(const QUrl&)>;

    // Control ids, kept on each control as the property "controlId".
    static constexpr int IDC_VERSION = 1055;
    static constexpr int IDC_HOME = 1033;
    static constexpr int IDOK_BUTTON = 1;

    explicit CAboutDlg(QWidget* parent = nullptr, UrlOpener openUrl = {});

private:
    void OnHome();

    UrlOpener m_openUrl;
};

} // namespace vantrel
