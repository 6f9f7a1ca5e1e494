#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

#include "packagingtest.h"
#include "platform/process_detail_linux.h"
#include "support/buildpaths.h"
#include "support/tempdir.h"

namespace vantrel::test {

namespace {

// The control fields as dpkg-deb prints them; continuation lines join their field.
std::map<std::string, std::string> ParseControl(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::string last;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == ' ' && !last.empty()) {
            fields[last] += "\n" + line.substr(1);
        } else if (std::size_t colon = line.find(": "); colon != std::string::npos) {
            last = line.substr(0, colon);
            fields[last] = line.substr(colon + 2);
        }
    }
    return fields;
}

struct ArchiveMember {
    std::string mode;  // "-rwxr-xr-x"
    std::string owner; // "root/root"
    std::string path;  // "./usr/bin/vantrel"
};

// The members `dpkg-deb -c` lists, as tar prints them: mode, owner, size, date, time, path.
std::vector<ArchiveMember> ParseContents(const std::string& text) {
    std::vector<ArchiveMember> members;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        ArchiveMember member;
        std::string size, date, time;
        if (words >> member.mode >> member.owner >> size >> date >> time >> member.path)
            members.push_back(member);
    }
    return members;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

TEST(DebPackage, DescribesItselfHoldsTheProgramAndRunsFromAnExtractedTree) {
    const std::string dpkg = platform::detail::FindOnPath("dpkg");
    const std::string dpkgDeb = platform::detail::FindOnPath("dpkg-deb");
    if (dpkg.empty() || dpkgDeb.empty() || platform::detail::FindOnPath("dpkg-shlibdeps").empty())
        GTEST_SKIP() << "dpkg, dpkg-deb or dpkg-shlibdeps is not installed (Debian package dpkg-dev)";
    TempDir dir;
    const std::string out = dir / "out";
    CommandResult cpack = RunCommand(
        {test::build::kCPack, "-G", "DEB", "--config", std::string(test::build::kBuildDir) + "/CPackConfig.cmake", "-B", out},
        dir.Path());
    ASSERT_EQ(cpack.exitCode, 0) << cpack.output;

    std::vector<std::string> debs;
    for (const std::string& file : ListFilesBelow(out))
        if (file.find('/') == std::string::npos && file.ends_with(".deb"))
            debs.push_back(out + "/" + file);
    ASSERT_EQ(debs.size(), 1u) << cpack.output;
    const std::string deb = debs.front();

    // The control fields, with the dependencies that dpkg-shlibdeps found in the binaries.
    CommandResult control = RunCommand({dpkgDeb, "-f", deb}, dir.Path());
    ASSERT_EQ(control.exitCode, 0) << control.output;
    std::map<std::string, std::string> fields = ParseControl(control.output);
    EXPECT_EQ(fields["Package"], "vantrel");
    EXPECT_EQ(fields["Version"], std::string(VANTREL_TEST_VERSION) + (VANTREL_TEST_PRERELEASE ? "~beta" : ""));
    EXPECT_EQ(fields["Architecture"], Trimmed(RunCommand({dpkg, "--print-architecture"}, dir.Path()).output));
    EXPECT_EQ(fields["Section"], "utils");
    EXPECT_NE(fields["Maintainer"].find('@'), std::string::npos) << fields["Maintainer"];
    const std::string& description = fields["Description"];
    const std::size_t summaryEnd = description.find('\n');
    EXPECT_NE(summaryEnd, 0u) << "a summary line first";
    EXPECT_NE(summaryEnd, std::string::npos) << "then a longer description";
    for (const char* library : {"libc6", "libstdc++6", "libqt6widgets6", "libqt6svg6", "libqt6network6", "libqt6charts6"})
        EXPECT_NE(fields["Depends"].find(library), std::string::npos) << library << " in " << fields["Depends"];
    EXPECT_EQ(deb.substr(deb.rfind('/') + 1), "vantrel_" + fields["Version"] + "_" + fields["Architecture"] + ".deb");

    // Exactly the installed files under /usr, owned by root, the programs executable.
    CommandResult contents = RunCommand({dpkgDeb, "-c", deb}, dir.Path());
    ASSERT_EQ(contents.exitCode, 0) << contents.output;
    std::vector<std::string> files;
    for (const ArchiveMember& member : ParseContents(contents.output)) {
        EXPECT_EQ(member.owner, "root/root") << member.path;
        if (member.mode.starts_with('d'))
            continue;
        files.push_back(member.path);
        const bool program = member.path.starts_with("./usr/bin/") || member.path.starts_with("./usr/libexec/");
        EXPECT_EQ(member.mode, program ? "-rwxr-xr-x" : "-rw-r--r--") << member.path;
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> expected;
    for (const std::string& file : ExpectedInstalledFiles())
        expected.push_back("./usr/" + file);
    EXPECT_EQ(files, expected);

    // Unpacked anywhere, the program answers --help before it would need a display: with no
    // usable window system at all, any attempt to open one would end it with an error.
    const std::string root = dir / "root";
    CommandResult extract = RunCommand({dpkgDeb, "-x", deb, root}, dir.Path());
    ASSERT_EQ(extract.exitCode, 0) << extract.output;
    EXPECT_EQ(ListFilesBelow(root + "/usr"), ExpectedInstalledFiles());
    CommandResult help = RunCommand({root + "/usr/bin/vantrel", "--help"}, dir.Path(),
                                    {"QT_QPA_PLATFORM=no-window-system", "DISPLAY=", "WAYLAND_DISPLAY=",
                                     "VANTREL_PROGRAM_DIR=" + (dir / "program")});
    EXPECT_EQ(help.exitCode, 0) << help.output;
    EXPECT_TRUE(help.output.starts_with("Usage: vantrel")) << help.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "program"));
}

} // namespace vantrel::test
