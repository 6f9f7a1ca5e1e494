#include "core/configfile.h"
#include "core/configuration.h"
#include "support/tempdir.h"
#include "test_options_view.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using test::CRecordingView;
using test::ReadText;

TEST(ReadConfiguration, NothingGivenLeavesTheDefaults) {
    for (const char* text : {"", "   \t\t  "}) {
        COptions options;
        CRecordingView view;
        ReadText(options, view, text, 6);
        // Every persisted option at its default writes an empty file.
        EXPECT_EQ(FormatConfiguration(options, false, 6), "");
        EXPECT_TRUE(options.HideProcessing);
        EXPECT_EQ(options.ClientShowMode, 0);
        EXPECT_EQ(options.MaxProcesses, 6u);
        EXPECT_EQ(view.m_slotSizes, std::vector<unsigned>{6});
        EXPECT_EQ(view.m_nMinimiseRequests, 0);
        EXPECT_TRUE(view.m_enabled.empty());
    }
}

TEST(ReadConfiguration, EveryKeywordInAnyCase) {
    COptions options;
    CRecordingView view;
    ReadText(options, view,
             "-DisplayTransmit -AUTO -min -24Hr -NoHide -Cpu 3 -Affinity -Verbose -orvaspy -OrvaLog -RunHigh");
    EXPECT_EQ(FormatConfiguration(options, true, 6),
              "-min\r\n-nohide\r\n-auto\r\n-DisplayTransmit\r\n-cpu 3\r\n"
              "-affinity\r\n-runhigh\r\n-ORVASpy\r\n-verbose\r\n-24hr\r\n-ORVALog\r\n");
    EXPECT_EQ(view.m_nMinimiseRequests, 1);
    EXPECT_EQ(options.ClientShowMode, 6);
    EXPECT_EQ(view.m_slotSizes, std::vector<unsigned>{3});

    const std::pair<const char*, EClientPriority> priorities[] = {
        {"-runhigh -runnormal", CP_NORMAL}, {"-RUNHIGH", CP_HIGH}, {"", CP_LOW}};
    for (const auto& [text, expected] : priorities) {
        COptions one;
        ReadText(one, view, text);
        EXPECT_EQ(one.ClientPriority, expected) << text;
    }
    COptions spy;
    ReadText(spy, view, "-spy");
    EXPECT_TRUE(spy.UseSpy);
}

TEST(ReadConfiguration, CpuFallsBackToTheProcessorCountAndIsClamped) {
    const std::pair<const char*, unsigned> cases[] = {{"-cpu 12", 12},
                                                      {"-cpu 0", 6},
                                                      {"-cpu -3", 6},
                                                      {"-cpu4", 6},
                                                      {"-cpu\t4", 6},
                                                      {"-cpu", 6},
                                                      {"-cpu abc", 6},
                                                      {"-cpu 3x", 3},
                                                      {"-cpu +3", 3},
                                                      {"-cpu 4097", 4096},
                                                      {"-cpu 99999999999", 4096},
                                                      {"-cpu 99999999999999999999999999", 4096},
                                                      {"-cpu -99999999999999999999999", 6}};
    for (const auto& [text, expected] : cases) {
        COptions options;
        CRecordingView view;
        ReadText(options, view, text, 6);
        EXPECT_EQ(options.MaxProcesses, expected) << text;
        EXPECT_EQ(view.m_slotSizes, std::vector<unsigned>{expected}) << text;
    }
    COptions huge;
    CRecordingView view;
    ReadText(huge, view, "", 5000);
    EXPECT_EQ(huge.MaxProcesses, kMaxProcessesLimit);
}

TEST(ReadConfiguration, KeywordsMatchAnywhereButValuesKeepTheirCase) {
    COptions options;
    CRecordingView view;
    ReadText(options, view, "-automatic -socks_server h -socks_user x-NoHide-y -socks_passwd pa-minSS");
    EXPECT_TRUE(options.AutoTransmit);
    EXPECT_FALSE(options.HideProcessing);
    EXPECT_EQ(view.m_nMinimiseRequests, 1);
    EXPECT_EQ(options.SocksUser, "x-NoHide-y");
    EXPECT_EQ(options.SocksPassword, "pa-minSS");

    COptions noServer;
    ReadText(noServer, view, "-socks_user MiXeD -socks_passwd PaSs");
    EXPECT_EQ(noServer.ServerMode, SM_NONE);
    EXPECT_EQ(noServer.SocksUser, "");
    EXPECT_EQ(noServer.SocksPassword, "");
}

TEST(ReadConfiguration, ServerValues) {
    struct Case {
        const char* text;
        EServerMode mode;
        const char* host;
        unsigned port;
        bool useColon;
    };
    const Case cases[] = {
        {"-proxy lower.example:8080", SM_PROXY, "LOWER.EXAMPLE", 8080, true},
        {"-proxy host:", SM_PROXY, "HOST", 0, true},
        {"-proxy host", SM_PROXY, "HOST", 0, false},
        {"-proxy host:   8080", SM_PROXY, "HOST", 8080, true},
        {"-proxy host:80x", SM_PROXY, "HOST", 80, true},
        {"-proxy host:99999999999", SM_PROXY, "HOST", 0, true},
        {"-proxy host:-5", SM_PROXY, "HOST", 0, true},
        {"-proxy", SM_PROXY, "", 0, false},
        {"-socks_server s:1080 -socks_user Ann", SM_SOCKS, "S", 1080, true},
        // Socks wins, with its own host and port.
        {"-proxy p:3128 -socks_server s.example", SM_SOCKS, "S.EXAMPLE", 0, false},
    };
    for (const Case& c : cases) {
        COptions options;
        CRecordingView view;
        ReadText(options, view, c.text);
        EXPECT_EQ(options.ServerMode, c.mode) << c.text;
        EXPECT_EQ(options.ServerHost, c.host) << c.text;
        EXPECT_EQ(options.ServerPort, c.port) << c.text;
        EXPECT_EQ(options.UseColon, c.useColon) << c.text;
        // A port forces "Use Colon" on and greys it.
        bool useColonFree = std::count(view.m_enabled.begin(), view.m_enabled.end(), SRV_USE_COLON) == 1;
        EXPECT_EQ(useColonFree, c.port == 0) << c.text;
    }
}

TEST(ReadConfiguration, AffinityNeedsTwoProcessors) {
    const std::tuple<const char*, unsigned, bool, bool> cases[] = {
        {"-affinity", 1, false, true}, {"", 1, false, true}, {"-affinity", 2, true, false}, {"", 2, false, false}};
    for (const auto& [text, processors, on, hidden] : cases) {
        COptions options;
        CRecordingView view;
        ReadText(options, view, text, processors);
        EXPECT_EQ(options.SetAffinity, on) << text << processors;
        EXPECT_EQ(view.m_bAffinityHidden, hidden) << text << processors;
    }
}

TEST(ReadConfiguration, StepsRunOneByOne) {
    COptions options;
    CRecordingView view;
    CConfigurationReader reader("-verbose  -cpu 3", options, view, 4);
    EXPECT_EQ(reader.GetSearchText(), "-VERBOSE -CPU 3");
    reader.ReadSteps(1, 6);
    EXPECT_EQ(options.MaxProcesses, 3u);
    EXPECT_FALSE(options.MonitorProgress); // step 8 has not run yet
    EXPECT_TRUE(reader.ReadMonitorProgress());
    EXPECT_FALSE(reader.ReadProxy());
    reader.ReadSteps(11, 16);
    EXPECT_EQ(view.m_nServerUpdates, 1); // "No Proxy/Socks" only
    EXPECT_EQ(view.m_slotSizes.size(), 1u);
}

// Reading the file: line ends, order against the command line, and bad content.
class ReadConfigurationFile : public ::testing::Test {
protected:
    void Read(const std::string& content, const std::vector<std::string>& arguments = {}) {
        test::WriteFile(m_strPath, content);
        ReadConfiguration(m_options, m_view, arguments, m_strPath, 6);
    }
    test::TempDir m_dir;
    std::string m_strPath = m_dir / "vantrel.cfg";
    COptions m_options;
    CRecordingView m_view;
};

TEST_F(ReadConfigurationFile, LinesFollowTheCommandLine) {
    EXPECT_EQ(CollectOptionText({"-CPU", "2"}, ""), "-CPU 2");
    test::WriteFile(m_strPath, "-cpu 4\r\n-auto\n-socks_user Ann");
    EXPECT_EQ(CollectOptionText({"-CPU", "2"}, m_strPath), "-CPU 2 -cpu 4 -auto -socks_user Ann");
    Read("-cpu 4\r\n-proxy file:2\n-24hr", {"-cpu", "2", "-proxy", "cmd:1"});
    EXPECT_EQ(m_options.MaxProcesses, 2u);
    EXPECT_EQ(m_options.ServerHost, "CMD");
    EXPECT_TRUE(m_options.Use24HourClock);
}

TEST_F(ReadConfigurationFile, BadContentCannotHideTheGoodLines) {
    std::string junk;
    std::uint32_t seed = 12345;
    for (int k = 0; k < 200000; ++k) {
        seed = seed * 1664525u + 1013904223u;
        junk.push_back(static_cast<char>((seed >> 24) == '-' ? '+' : (seed >> 24))); // no accidental keyword
    }
    junk += "\n" + std::string(300000, 'x') + "\n-proxy " + std::string(400000, 'h') + ":8080\r\n";
    junk += std::string("-cpu 5\0-auto\r\n-24hr\r\n", 21); // a NUL ends its line
    Read(junk);
    EXPECT_EQ(m_options.ServerHost, std::string(400000, 'H'));
    EXPECT_EQ(m_options.ServerPort, 8080u);
    EXPECT_EQ(m_options.MaxProcesses, 5u);
    EXPECT_FALSE(m_options.AutoTransmit);
    EXPECT_TRUE(m_options.Use24HourClock);
}

TEST_F(ReadConfigurationFile, OnlyTheFirstMebibyteIsRead) {
    // The line straddling the cap is dropped whole (its first part reads "-proxy abc").
    std::string text = "-cpu 3\r\n" + std::string(kMaxConfigurationBytes - 20, ' ') + "\r\n";
    text += "-proxy abcdef:8080\r\n" + std::string(4u << 20, ' ') + "\r\n-auto\r\n";
    Read(text);
    EXPECT_EQ(m_options.MaxProcesses, 3u);
    EXPECT_EQ(m_options.ServerMode, SM_NONE);
    EXPECT_FALSE(m_options.AutoTransmit);

    test::WriteFile(m_strPath, std::string(kMaxConfigurationBytes - 9, ' ') + "\n-verbose");
    EXPECT_EQ(CollectOptionText({}, m_strPath).substr(kMaxConfigurationBytes - 8), " -verbose");
}

TEST_F(ReadConfigurationFile, AnUnreadableFileLeavesTheCommandLine) {
    test::MakeDirs(m_strPath);
    EXPECT_EQ(CollectOptionText({"-cpu", "2"}, m_strPath), "-cpu 2");
    EXPECT_EQ(CollectOptionText({"-cpu", "2"}, m_dir / "missing.cfg"), "-cpu 2");
}

} // namespace
} // namespace vantrel
