#include "core/configuration.h"
#include "test_options_view.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using Controls = std::vector<EServerControl>;
using Words = std::vector<std::string>;

TEST(ServerControls, RadiosAndPortDecideWhatIsEnabled) {
    test::CRecordingView view;
    COptions options;
    const Controls proxy = {SRV_HOST_LABEL, SRV_HOST, SRV_PORT_LABEL, SRV_PORT};
    const Controls proxyColon = {SRV_HOST_LABEL, SRV_HOST, SRV_PORT_LABEL, SRV_PORT, SRV_USE_COLON};
    const Controls socks = {SRV_HOST_LABEL, SRV_HOST, SRV_PORT_LABEL,     SRV_PORT,
                            SRV_USER_LABEL, SRV_USER, SRV_PASSWORD_LABEL, SRV_PASSWORD};
    const Controls socksColon = {SRV_HOST_LABEL, SRV_HOST, SRV_PORT_LABEL,     SRV_PORT,    SRV_USE_COLON,
                                 SRV_USER_LABEL, SRV_USER, SRV_PASSWORD_LABEL, SRV_PASSWORD};
    const std::tuple<EServerMode, unsigned, Controls> cases[] = {
        {SM_NONE, 0, {}},
        {SM_PROXY, 0, proxyColon},
        {SM_PROXY, 8080, proxy}, // the radio never frees "Use Colon" from a port
        {SM_SOCKS, 0, socksColon},
        {SM_SOCKS, 8080, socks},
        {SM_NONE, 8080, {}},
    };
    for (const auto& [mode, port, enabled] : cases) {
        options.ServerPort = port;
        SelectServerMode(options, mode, view);
        EXPECT_EQ(options.ServerMode, mode);
        EXPECT_EQ(view.m_enabled, enabled) << mode << " " << port;
    }
}

TEST(ServerControls, UseColonFollowsThePortEvenAgainstTheUser) {
    test::CRecordingView view;
    COptions options;
    SelectServerMode(options, SM_PROXY, view);
    options.ServerPort = 3128;
    UpdateUseColon(options, view);
    EXPECT_TRUE(options.UseColon);
    EXPECT_EQ(view.m_enabled, (Controls{SRV_HOST_LABEL, SRV_HOST, SRV_PORT_LABEL, SRV_PORT}));

    options.ServerPort = 0;
    options.UseColon = true; // checked by the user, then the port field loses the focus
    UpdateUseColon(options, view);
    EXPECT_FALSE(options.UseColon);
    EXPECT_EQ(view.m_enabled, (Controls{SRV_HOST_LABEL, SRV_HOST, SRV_PORT_LABEL, SRV_PORT, SRV_USE_COLON}));
}

TEST(ClientOptions, ProxySwitchesAsTextAndAsWords) {
    COptions options;
    options.ServerMode = SM_PROXY;
    options.ServerHost = " \tproxy.example  ";
    options.ServerPort = 8080;
    options.UseColon = true;
    const std::tuple<unsigned, bool, const char*> cases[] = {
        {8080, true, "proxy.example:8080"}, {0, true, "proxy.example:"}, {8080, false, "proxy.example"}};
    for (const auto& [port, useColon, hostSpec] : cases) {
        options.ServerPort = port;
        options.UseColon = useColon;
        BuildClientOptions(options);
        EXPECT_EQ(options.ServerHost, "proxy.example"); // trimmed and stored back
        EXPECT_EQ(options.ClientOptions, std::string(" -proxy ") + hostSpec);
        EXPECT_EQ(options.ClientOptionArgs, (Words{"-proxy", hostSpec}));
    }
}

TEST(ClientOptions, SocksSwitchesKeepEveryWordWhole) {
    COptions options;
    options.ServerMode = SM_SOCKS;
    options.ServerHost = "socks.example";
    options.ServerPort = 1080;
    options.UseColon = true;
    options.SocksUser = "Ann Lee";
    options.SocksPassword = "p w;$(rm -rf ~)\"'";
    BuildClientOptions(options);
    EXPECT_EQ(options.ClientOptions,
              " -socks_server socks.example:1080 -socks_user Ann Lee -socks_passwd p w;$(rm -rf ~)\"'");
    EXPECT_EQ(options.ClientOptionArgs, (Words{"-socks_server", "socks.example:1080", "-socks_user", "Ann Lee",
                                               "-socks_passwd", "p w;$(rm -rf ~)\"'"}));
    options.SocksUser.clear();
    BuildClientOptions(options);
    EXPECT_EQ(options.ClientOptionArgs,
              (Words{"-socks_server", "socks.example:1080", "-socks_passwd", "p w;$(rm -rf ~)\"'"}));

    // Every rebuild starts from nothing: no server, or a blank host, gives no switches at all.
    for (EServerMode mode : {SM_NONE, SM_PROXY, SM_SOCKS}) {
        options.ServerMode = mode;
        if (mode != SM_NONE)
            options.ServerHost = " \t ";
        BuildClientOptions(options);
        EXPECT_EQ(options.ClientOptions, "") << mode;
        EXPECT_TRUE(options.ClientOptionArgs.empty()) << mode;
    }
}

} // namespace
} // namespace vantrel
