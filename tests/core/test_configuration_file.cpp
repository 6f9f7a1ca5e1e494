#include "core/configfile.h"
#include "core/configuration.h"
#include "platform/fileops.h"
#include "support/tempdir.h"
#include "test_options_view.h"

#include <gtest/gtest.h>
#include <string>

namespace vantrel {
namespace {

TEST(ConfigurationFile, PathReplacesTheExtensionOfTheFileNameOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"vantrel", "vantrel.cfg"},      {"/a.b/vantrel", "/a.b/vantrel.cfg"}, {"/x/Vantrel.exe", "/x/Vantrel.cfg"},
        {"/x/v.tar.gz", "/x/v.tar.cfg"}, {"/x/.vantrel", "/x/.vantrel.cfg"},   {"", ""}};
    for (const auto& [executable, config] : cases)
        EXPECT_EQ(GetConfigurationPath(executable), config);
}

TEST(ConfigurationFile, WritesOnlyWhatDiffersFromTheDefaults) {
    COptions options;
    options.MaxProcesses = 2;
    options.SetAffinity = true;
    options.ClientPriority = CP_NORMAL;
    // One processor: "-affinity" is never written, and 2 differs from the count.
    EXPECT_EQ(FormatConfiguration(options, false, 1), "-cpu 2\r\n-runnormal\r\n");
    EXPECT_EQ(FormatConfiguration(options, false, 2), "-affinity\r\n-runnormal\r\n");

    options.SetAffinity = false;
    options.ClientPriority = CP_LOW;
    options.ServerMode = SM_SOCKS;
    options.ServerHost = "  h  ";
    options.ServerPort = 1080;
    options.UseColon = true;
    options.SocksUser = "   "; // blank: "-socks_passwd" would read back as the user name
    options.SocksPassword = "pw";
    EXPECT_EQ(FormatConfiguration(options, false, 2), "-socks_server h:1080\r\n-socks_passwd pw\r\n");
    options.ServerMode = SM_PROXY;
    EXPECT_EQ(FormatConfiguration(options, false, 2), "-proxy h:1080\r\n");
    // A blank host writes no server lines at all: the file reads back as no server.
    options.ServerHost = " \t";
    EXPECT_EQ(FormatConfiguration(options, false, 2), "");
    options.ServerMode = SM_SOCKS;
    EXPECT_EQ(FormatConfiguration(options, false, 2), "");
}

TEST(ConfigurationFile, RoundTripGivesBackTheSameOptions) {
    test::TempDir dir;
    std::string path = dir / "vantrel.cfg";
    auto roundTrip = [&path](const COptions& saved, bool minimised, test::CRecordingView& view) {
        EXPECT_TRUE(SaveConfiguration(path, saved, minimised, 8));
        COptions read;
        ReadConfiguration(read, view, {}, path, 8);
        EXPECT_EQ(FormatConfiguration(read, minimised, 8), test::ReadFile(path));
        return FormatConfiguration(read, minimised, 8);
    };
    COptions all;
    all.HideProcessing = false;
    all.AutoTransmit = all.DisplayTransmit = all.SetAffinity = true;
    all.UseSpy = all.MonitorProgress = all.Use24HourClock = all.CreateLog = true;
    all.MaxProcesses = 3;
    all.ClientPriority = CP_HIGH;
    all.ServerMode = SM_SOCKS;
    all.ServerHost = "SOCKS.EXAMPLE";
    all.ServerPort = 1080;
    all.UseColon = true;
    all.SocksUser = "MiXeD";
    all.SocksPassword = "PaSs:w0rd";
    test::CRecordingView view;
    EXPECT_EQ(roundTrip(all, true, view),
              "-min\r\n-nohide\r\n-auto\r\n-DisplayTransmit\r\n-cpu 3\r\n-affinity\r\n-runhigh\r\n"
              "-socks_server SOCKS.EXAMPLE:1080\r\n-socks_user MiXeD\r\n-socks_passwd PaSs:w0rd\r\n"
              "-ORVASpy\r\n-verbose\r\n-24hr\r\n-ORVALog\r\n");
    EXPECT_EQ(view.m_nMinimiseRequests, 1);

    COptions proxy; // a colon and no port; default count: no "-cpu"
    proxy.MaxProcesses = 8;
    proxy.ServerMode = SM_PROXY;
    proxy.ServerHost = "PROXY";
    proxy.UseColon = true;
    EXPECT_EQ(roundTrip(proxy, false, view), "-proxy PROXY:\r\n");

    // A lower-case host comes back in upper case.
    test::WriteFile(path, "-proxy lower.example:8080\n");
    COptions lower;
    ReadConfiguration(lower, view, {}, path, 8);
    ASSERT_TRUE(SaveConfiguration(path, lower, false, 8));
    EXPECT_EQ(test::ReadFile(path), "-proxy LOWER.EXAMPLE:8080\r\n");

    // Notifications: off unless asked for, so a file of today reads the same; the hours only when
    // they are not the default, and a value that is no hour count keeps the default.
    COptions quiet;
    ReadConfiguration(quiet, view, {}, path, 8);
    EXPECT_FALSE(quiet.NotifyProblems);
    COptions notify;
    notify.MaxProcesses = 8;
    notify.NotifyProblems = true;
    EXPECT_EQ(roundTrip(notify, false, view), "-notify\r\n");
    notify.NotifyAfterHours = 12;
    EXPECT_EQ(roundTrip(notify, false, view), "-notify 12\r\n");
    for (const char* text : {"-notify -ORVALog", "-notify 0", "-NOTIFY 9000"}) {
        test::WriteFile(path, text);
        COptions read;
        ReadConfiguration(read, view, {}, path, 8);
        EXPECT_TRUE(read.NotifyProblems) << text;
        EXPECT_EQ(read.NotifyAfterHours, kDefaultNotifyAfterHours) << text;
    }
}

TEST(ConfigurationFile, AwkwardServerValuesSurviveSaveAndReadBack) {
    test::TempDir dir;
    const std::string path = dir / "vantrel.cfg";
    test::CRecordingView view;
    const char* values[] = {"my -min pass", "with \"quotes\" and \\ slash", "x-NoHide-y", "a: -b", "tab\there",
                            "\"", "\\", "ends with \\", "pässwörd ✓", "-socks_user", "\"0\"", "two  spaces", "p"};
    for (const char* value : values) {
        COptions saved;
        saved.MaxProcesses = 2;
        saved.ServerMode = SM_SOCKS;
        saved.ServerHost = "S";
        saved.SocksUser = value;
        saved.SocksPassword = std::string(value) + " 2";
        ASSERT_TRUE(SaveConfiguration(path, saved, false, 2));
        COptions read;
        ReadConfiguration(read, view, {}, path, 2);
        EXPECT_EQ(read.SocksUser, value);
        EXPECT_EQ(read.SocksPassword, std::string(value) + " 2");
        // A keyword inside a value sets nothing.
        EXPECT_EQ(view.m_nMinimiseRequests, 0) << value;
        EXPECT_TRUE(read.HideProcessing) << value;
        EXPECT_EQ(read.ServerMode, SM_SOCKS);
        EXPECT_EQ(read.MaxProcesses, 2u);
    }

    // A proxy host holding a keyword keeps its port and starts nothing minimised.
    COptions proxy;
    proxy.MaxProcesses = 2;
    proxy.ServerMode = SM_PROXY;
    proxy.ServerHost = "proxy-minsk.example";
    proxy.ServerPort = 8080;
    proxy.UseColon = true;
    ASSERT_TRUE(SaveConfiguration(path, proxy, false, 2));
    EXPECT_EQ(test::ReadFile(path), "-proxy \"proxy-minsk.example:8080\"\r\n");
    COptions readProxy;
    ReadConfiguration(readProxy, view, {}, path, 2);
    EXPECT_EQ(readProxy.ServerHost, "PROXY-MINSK.EXAMPLE");
    EXPECT_EQ(readProxy.ServerPort, 8080u);
    EXPECT_EQ(view.m_nMinimiseRequests, 0);

    // Plain values and empty ones are written as they always were.
    COptions plain;
    plain.MaxProcesses = 2;
    plain.ServerMode = SM_SOCKS;
    plain.ServerHost = "my-host.example";
    plain.SocksUser = "Ann";
    ASSERT_TRUE(SaveConfiguration(path, plain, false, 2));
    EXPECT_EQ(test::ReadFile(path), "-socks_server my-host.example\r\n-socks_user Ann\r\n");
    COptions readPlain;
    ReadConfiguration(readPlain, view, {}, path, 2);
    EXPECT_EQ(readPlain.SocksUser, "Ann");
    EXPECT_EQ(readPlain.SocksPassword, "");

    // A quote that is never closed is read as written.
    test::WriteFile(path, "-socks_server s\r\n-socks_passwd \"open\r\n");
    COptions open;
    ReadConfiguration(open, view, {}, path, 2);
    EXPECT_EQ(open.SocksPassword, "\"open");
}

} // namespace
} // namespace vantrel
