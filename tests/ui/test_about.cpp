#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <vector>

#include "platform/fileops.h"
#include "support/tempdir.h"
#include "ui/aboutdlg.h"

namespace vantrel::test {
namespace {

template <class Control> Control* FindControl(QWidget& root, int id) {
    for (Control* control : root.findChildren<Control*>()) {
        if (control->property("controlId").toInt() == id)
            return control;
    }
    return nullptr;
}

TEST(AboutBox, VersionLineFromTheVersionCompiledIn) {
    EXPECT_EQ(FormatVersionLine(std::nullopt), QStringLiteral("Vantrel Version UNKNOWN"));
    EXPECT_EQ(FormatVersionLine(VersionInfo{{1, 2, 3, 4}, false}), QStringLiteral("Vantrel 1.2.3.4"));
    EXPECT_EQ(FormatVersionLine(VersionInfo{{0, 9, 65535, 0}, true}), QStringLiteral("Vantrel 0.9.65535.0 BETA"));

    // The build's own version: the numbers CMake gave, " BETA" when marked pre-release.
    std::optional<VersionInfo> compiled = CompiledVersion();
    ASSERT_TRUE(compiled.has_value());
    std::vector<unsigned> parts(compiled->parts.begin(), compiled->parts.end());
    EXPECT_EQ(parts, (std::vector<unsigned>{VANTREL_VERSION_MAJOR, VANTREL_VERSION_MINOR, VANTREL_VERSION_PATCH,
                                            VANTREL_VERSION_TWEAK + 0u}));
    EXPECT_EQ(compiled->prerelease, VANTREL_PRERELEASE != 0);

    CAboutDlg dialog(nullptr, [](const QUrl&) { return true; });
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About Vantrel"));
    QLabel* version = FindControl<QLabel>(dialog, 1055);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), FormatVersionLine(compiled));
    EXPECT_TRUE(version->text().startsWith(QStringLiteral("Vantrel %1.").arg(VANTREL_VERSION_MAJOR)));
    EXPECT_EQ(version->text().endsWith(QStringLiteral(" BETA")), VANTREL_PRERELEASE != 0);
}

TEST(AboutBox, HomeOpensThePageThroughTheOpenerAndOkCloses) {
    std::vector<QUrl> opened;
    CAboutDlg dialog(nullptr, [&opened](const QUrl& url) {
        opened.push_back(url);
        return false; // a failed open is not reported: the box stays as it is
    });
    dialog.show();

    QPushButton* home = FindControl<QPushButton>(dialog, 1033);
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(home->text(), QStringLiteral("Vantrel Home"));
    home->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], VantrelHomeUrl());
    EXPECT_TRUE(opened[0].isValid());
    EXPECT_TRUE(dialog.isVisible());

    QPushButton* ok = FindControl<QPushButton>(dialog, 1);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    ok->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(opened.size(), 1u);
}

TEST(AboutBox, HomeIsAPageThatExistsForEveryCopyAndTheBoxSaysWhatVantrelIs) {
    TempDir dir;
    const QString installed = QString::fromStdString(dir / "installed-README.md");
    const QString source = QString::fromStdString(dir / "source-README.md");
    const QString spare = QString::fromStdString(dir.Path());
    WriteFile(source.toStdString(), "# Vantrel\n");
    // The installed README first; when it is missing, the one beside the source.
    EXPECT_EQ(ChooseHomePage({installed, source}, QStringLiteral("https://example.org/vantrel"), spare),
              QUrl::fromLocalFile(source));
    WriteFile(installed.toStdString(), "# Vantrel\n");
    EXPECT_EQ(ChooseHomePage({installed, source}, {}, spare), QUrl::fromLocalFile(installed));
    // Neither: the project's address, or else the README the program carries, put on disk.
    const QStringList missing{QString::fromStdString(dir / "none-1"), QString::fromStdString(dir / "none-2")};
    EXPECT_EQ(ChooseHomePage(missing, QStringLiteral("https://example.org/vantrel"), spare),
              QUrl(QStringLiteral("https://example.org/vantrel")));
    QUrl carried = ChooseHomePage(missing, {}, spare);
    ASSERT_TRUE(carried.isLocalFile());
    std::string text = platform::ReadFileText(carried.toLocalFile().toStdString()).value_or("");
    EXPECT_NE(text.find("# Vantrel"), std::string::npos) << "the carried README is not the program's";
    EXPECT_TRUE(VantrelHomeUrl().isValid());

    CAboutDlg about;
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>())
        texts << label->text();
    EXPECT_TRUE(texts.contains(QString::fromUtf8(kAboutDescription)));
}

} // namespace
} // namespace vantrel::test
