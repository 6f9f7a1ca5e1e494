#include <QImage>
#include <filesystem>
#include <gtest/gtest.h>
#include <cstdio>
#include <sys/stat.h>

#include "packagingtest.h"
#include "support/buildpaths.h"
#include "support/tempdir.h"

namespace vantrel::test {

namespace {

mode_t PermissionsOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The share of pixels that are not fully transparent.
double CoveredShare(const QImage& image) {
    long covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return static_cast<double>(covered) / (static_cast<double>(image.width()) * image.height());
}

} // namespace

TEST(InstallTree, PutsProgramClientEntryIconsAndReadmeInTheirStandardPlaces) {
    TempDir dest;
    CommandResult install = RunCommand({test::build::kCMake, "--install", test::build::kBuildDir, "--prefix", "/usr"},
                                       dest.Path(), {"DESTDIR=" + dest.Path()});
    ASSERT_EQ(install.exitCode, 0) << install.output;

    // Exactly these files, all beneath the prefix: nothing stray, nothing outside /usr.
    std::vector<std::string> expected;
    for (const std::string& file : ExpectedInstalledFiles())
        expected.push_back("usr/" + file);
    ASSERT_EQ(ListFilesBelow(dest.Path()), expected);

    const std::string usr = dest / "usr";
    for (const char* program : {"/bin/vantrel", "/libexec/vantrel/ORVA_sim_cmdline.exe"})
        EXPECT_EQ(PermissionsOf(usr + program), 0755u) << program;
    for (const char* data : {"/share/applications/vantrel.desktop", "/share/doc/vantrel/README.md"})
        EXPECT_EQ(PermissionsOf(usr + data), 0644u) << data;
    EXPECT_EQ(ReadFile(usr + "/share/doc/vantrel/README.md"), ReadFile(std::string(test::build::kSourceDir) + "/README.md"));
    EXPECT_EQ(ReadFile(usr + "/share/icons/hicolor/scalable/apps/vantrel.svg"),
              ReadFile(std::string(test::build::kSourceDir) + "/src/ui/icons/vantrel.svg"));

    // The menu entry starts the installed program and shows the installed icon.
    std::map<std::string, std::string> entry = ReadDesktopEntry(usr + "/share/applications/vantrel.desktop");
    EXPECT_TRUE(std::filesystem::is_regular_file(usr + "/bin/" + entry["Exec"])) << entry["Exec"];
    EXPECT_TRUE(std::filesystem::is_regular_file(usr + "/share/icons/hicolor/scalable/apps/" + entry["Icon"] + ".svg"))
        << entry["Icon"];

    // The user service starts the installed program without a window, and systemd finds nothing
    // to object to in it once the program lies where the unit says.
    const std::string unit = ReadFile(usr + "/lib/systemd/user/vantrel-headless.service");
    EXPECT_NE(unit.find("\nExecStart=/usr/bin/vantrel --headless\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nWantedBy=default.target\n"), std::string::npos) << unit;
    if (std::filesystem::exists("/usr/bin/systemd-analyze")) {
        TempDir check;
        std::string local = unit;
        local.replace(local.find("=/usr/bin/vantrel"), 17, "=" + usr + "/bin/vantrel");
        WriteFile(check / "vantrel-headless.service", local);
        ::mkdir((check / "runtime").c_str(), 0700);
        CommandResult verify = RunCommand({"/usr/bin/systemd-analyze", "verify", "--user", "--man=no",
                                           check / "vantrel-headless.service"},
                                          check.Path(), {"XDG_RUNTIME_DIR=" + (check / "runtime")});
        EXPECT_EQ(verify.exitCode, 0) << verify.output;
        EXPECT_EQ(verify.output, "") << "systemd-analyze verify objects";
    } else {
        std::printf("[ skipped  ] systemd-analyze is not installed: the unit file is not verified\n");
    }

    // Every bitmap icon is the drawing at its own size, not an empty or a wrongly sized image.
    for (int size : ExpectedIconSizes()) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        QImage icon(QString::fromStdString(usr + "/share/icons/hicolor/" + folder + "/apps/" + entry["Icon"] + ".png"),
                    "PNG");
        ASSERT_FALSE(icon.isNull()) << folder;
        EXPECT_EQ(icon.width(), size);
        EXPECT_EQ(icon.height(), size);
        EXPECT_TRUE(icon.hasAlphaChannel()) << folder;
        EXPECT_GT(CoveredShare(icon), 0.5) << folder;
    }
}

TEST(IconRenderer, RefusesWhatItCannotRenderAndLeavesNoImage) {
    TempDir dir;
    const std::string svg = std::string(test::build::kSourceDir) + "/src/ui/icons/vantrel.svg";
    const std::string png = dir / "icon.png";
    WriteFile(dir / "broken.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"");

    for (const char* size : {"0", "-16", "16px", "", "1025"}) {
        CommandResult result = RunCommand({test::build::kSvgToPng, svg, png, size}, dir.Path());
        EXPECT_NE(result.exitCode, 0) << "size \"" << size << "\"";
        EXPECT_NE(result.output.find("size"), std::string::npos) << result.output;
    }
    CommandResult missing = RunCommand({test::build::kSvgToPng, dir / "missing.svg", png, "32"}, dir.Path());
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.output.find("missing.svg"), std::string::npos) << missing.output;
    EXPECT_NE(RunCommand({test::build::kSvgToPng, dir / "broken.svg", png, "32"}, dir.Path()).exitCode, 0);
    EXPECT_NE(RunCommand({test::build::kSvgToPng, svg, dir / "no-such-folder/icon.png", "32"}, dir.Path()).exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(png));

    ASSERT_EQ(RunCommand({test::build::kSvgToPng, svg, png, "40"}, dir.Path()).exitCode, 0);
    EXPECT_EQ(QImage(QString::fromStdString(png), "PNG").size(), QSize(40, 40));
}

} // namespace vantrel::test
