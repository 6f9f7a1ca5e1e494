// The built program on a D-Bus StatusNotifierItem host (xfce4-panel's status tray on its own
// session bus): a single click shows and hides the window, the host opens the menu it was handed
// and its "Exit" ends the program. A second start in the same program directory hands over and
// leaves the running clients alone; a copy in another directory runs beside it and `--post` can
// reach that one alone. Screenshots of the dialog and the host's menu are kept.
#include "e2e_process.h"
#include "platform/fileops.h"
#include "support/tempdir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace vantrel::e2e {
namespace {

using namespace std::chrono_literals;

// One panel at the bottom edge holding only the status tray.
constexpr const char* kPanelConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=640;y=784"/>
      <property name="length" type="uint" value="10"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)";

struct Geometry {
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
};

// The mapped windows of the panel's plugin process ("Wrapper-2.0"), with their places on screen.
std::vector<Geometry> PluginWindows(const std::string& tree) {
    std::vector<Geometry> found;
    std::istringstream lines(tree);
    std::string line;
    const std::string marker = "(\"wrapper-2.0\" \"Wrapper-2.0\")";
    while (std::getline(lines, line)) {
        std::size_t at = line.find(marker);
        if (at == std::string::npos)
            continue;
        Geometry g;
        int relX = 0;
        int relY = 0;
        if (std::sscanf(line.c_str() + at + marker.size(), " %dx%d+%d+%d +%d+%d", &g.width, &g.height, &relX, &relY,
                        &g.x, &g.y) == 6 &&
            g.x >= 0 && g.y >= 0 && g.width > 1)
            found.push_back(g);
    }
    return found;
}

// The clients that process work units (transmit runs come and go by themselves).
std::vector<ClientProcess> ProcessingClients(const std::string& dir) {
    std::vector<ClientProcess> found = ClientsBeneath(dir);
    std::erase_if(found, [](const ClientProcess& c) { return c.title.find(" - Transmit") != std::string::npos; });
    return found;
}

// The session bus that the panel and the program share.
struct SniDesktop {
    // A question to the session bus through dbus-send; its printed reply.
    std::string Ask(const std::vector<std::string>& words) const {
        std::vector<std::string> argv = {*FindProgram("dbus-send"), "--session", "--print-reply"};
        argv.insert(argv.end(), words.begin(), words.end());
        return RunToEnd(argv, env).output;
    }

    std::string WatcherProperty(const std::string& name) const {
        return Ask({"--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                    "org.freedesktop.DBus.Properties.Get", "string:org.kde.StatusNotifierWatcher", "string:" + name});
    }

    Environment env;
};

TEST(EndToEnd, StatusNotifierHostOneCopyPerDirectoryAndACommandLineThatAnswers) {
    std::optional<std::string> xvfb = FindProgram("Xvfb");
    std::optional<std::string> panel = FindProgram("xfce4-panel");
    std::optional<std::string> bus = FindProgram("dbus-daemon");
    std::optional<std::string> xdotool = FindProgram("xdotool");
    std::optional<std::string> xwininfo = FindProgram("xwininfo");
    if (!xvfb || !panel || !bus || !xdotool || !xwininfo || !FindProgram("dbus-send"))
        GTEST_SKIP() << "needs Xvfb, xfce4-panel, dbus-daemon, dbus-send, xdotool and xwininfo";
    std::optional<std::string> import = FindProgram("import");

    Workspace space;
    test::TempDir& work = space.work;
    const std::string& program = space.program;
    const std::string other = work / "other";
    const std::string& runtime = space.runtime;
    const std::string& logs = space.logs;
    const std::string config = work / "config";
    for (const std::string& dir : {other, config + "/xfce4/xfconf/xfce-perchannel-xml", work / "home"})
        test::MakeDirs(dir);
    test::WriteFile(config + "/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml", kPanelConfig);
    ASSERT_TRUE(InstallPortableCopy(program));
    ASSERT_TRUE(InstallPortableCopy(other));
    test::WriteFile(program + "/vantrel.cfg", "-auto -cpu 2\r\n");
    test::MakeDirs(program + "/1");
    test::MakeDirs(program + "/2");

    CVirtualDisplay server(*xvfb, logs + "/xvfb-sni.log");
    ASSERT_FALSE(server.Name().empty()) << "Xvfb did not start";
    // A session bus of its own; the panel's settings service is started by it, so it gets the
    // panel's configuration directory from the bus's environment.
    const Environment desktop = MergedEnvironment(
        {{"DISPLAY", server.Name()}, {"XDG_CONFIG_HOME", config}, {"HOME", work / "home"}, {"XDG_RUNTIME_DIR", runtime}});
    CChild busDaemon({*bus, "--session", "--nofork", "--print-address=1"}, desktop, {}, logs + "/dbus-sni.log", true);
    std::optional<std::string> address = busDaemon.ReadLine();
    ASSERT_TRUE(address && !address->empty()) << "no session bus";
    SniDesktop sni;
    sni.env = desktop;
    sni.env["DBUS_SESSION_BUS_ADDRESS"] = *address;
    ASSERT_TRUE(WaitUntil([&] { return RunToEnd({*xwininfo, "-root"}, sni.env).exitCode == 0; }, 120s)) << "no display";
    CChild host({*panel, "--disable-wm-check"}, sni.env, {}, logs + "/xfce4-panel.log");
    ASSERT_TRUE(WaitUntil([&] { return sni.WatcherProperty("IsStatusNotifierHostRegistered").find("true") !=
                                     std::string::npos; },
                        60s))
        << "the panel's status tray did not register as a host";

    Environment env = sni.env;
    for (const auto& [name, value] : Environment{{"QT_QPA_PLATFORM", "xcb"},
                                                 {"VANTREL_TIME_SCALE", "0.01"},
                                                 {"ORVA_SIM_PROCESS_SECONDS", "600"},
                                                 {"ORVA_SIM_STATE_INTERVAL", "0.5"},
                                                 {"ORVA_SIM_TRANSFER_SECONDS", "0.1"},
                                                 {"LSAN_OPTIONS", LeakOptions()}})
        env[name] = value;
    auto windowShown = [&] { return !VisibleWindows(*xdotool, env, "Vantrel").empty(); };
    auto tree = [&] { return RunToEnd({*xwininfo, "-root", "-tree"}, env).output; };

    CChild vantrel({program + "/vantrel"}, env, program, logs + "/vantrel-sni.log");
    ASSERT_TRUE(vantrel.Started());
    EXPECT_TRUE(WaitUntil([&] { return sni.WatcherProperty("RegisteredStatusNotifierItems").find("/StatusNotifierItem") !=
                                     std::string::npos; },
                        30s))
        << "the icon did not register with the host";
    EXPECT_TRUE(ShownWhileRunning(vantrel, logs + "/vantrel-sni.log", windowShown, 120s)) << "the dialog was not shown";
    ASSERT_TRUE(WaitUntil([&] { return ProcessingClients(program).size() == 2; }, 60s)) << "two clients never processed";
    std::vector<ClientProcess> before = ProcessingClients(program);

    // A second start in the same directory, even with other keywords, hands over and touches
    // nothing: the same two clients run on.
    RunResult second = RunToEnd({program + "/vantrel", "-cpu", "3"}, env);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(second.output.find("already runs"), std::string::npos) << second.output;
    std::vector<ClientProcess> after = ProcessingClients(program);
    ASSERT_EQ(after.size(), 2u);
    for (const ClientProcess& client : before)
        EXPECT_TRUE(std::any_of(after.begin(), after.end(), [&](const ClientProcess& c) { return c.pid == client.pid; }))
            << "client " << client.title << " was replaced";
    // The window's copy tells its status as the headless one does.
    RunResult statusRun = RunToEnd({program + "/vantrel", "--status"}, env);
    EXPECT_EQ(statusRun.exitCode, 0);
    EXPECT_NE(statusRun.output.find(program + ": running\nCurrent Cache Size: "), std::string::npos)
        << statusRun.output;

    // A copy in another directory runs beside it, and --post reaches it alone.
    CChild beside({other + "/vantrel", "-cpu", "0"}, env, other, logs + "/vantrel-other.log");
    ASSERT_TRUE(WaitUntil([&] { return platform::PathExists(other + "/vantrel.lock") &&
                                     RunToEnd({program + "/vantrel", "--post", "0"}, env).output.find("2 running") !=
                                         std::string::npos; },
                        30s))
        << "the copy in the other directory did not come up";
    // Two copies: each window names its program directory.
    EXPECT_TRUE(WaitUntil([&] { return !VisibleWindows(*xdotool, env, "Vantrel - .*/program").empty() &&
                                     !VisibleWindows(*xdotool, env, "Vantrel - .*/other").empty(); },
                        20s))
        << "the two windows do not say which copy is which";
    RunResult limited = RunToEnd({program + "/vantrel", "--post", "16", "--program-dir", other}, env);
    EXPECT_EQ(limited.exitCode, 0);
    EXPECT_NE(limited.output.find("reached 1 running copy"), std::string::npos) << limited.output;
    std::optional<int> otherStatus = beside.WaitForExit(30s);
    ASSERT_TRUE(otherStatus.has_value()) << "the other copy did not end";
    EXPECT_EQ(WEXITSTATUS(*otherStatus), 0);
    EXPECT_EQ(RunToEnd({program + "/vantrel", "--post", "16", "--program-dir", other}, env).exitCode, 1);
    EXPECT_EQ(RunToEnd({program + "/vantrel", "--status", "--program-dir", other}, env).exitCode, 3);

    // A single click on the icon does the default item: hide, then show again.
    // The status tray sits in the panel at the bottom edge.
    std::vector<Geometry> icons = PluginWindows(tree());
    std::erase_if(icons, [](const Geometry& g) { return g.y < 700 || g.height < 16; });
    ASSERT_FALSE(icons.empty()) << "no status tray on screen";
    const Geometry icon = icons.front();
    const std::string iconX = std::to_string(icon.x + icon.width / 2);
    const std::string iconY = std::to_string(icon.y + icon.height / 2);
    auto click = [&](const char* button) {
        RunToEnd({*xdotool, "mousemove", iconX, iconY, "click", button}, env);
    };
    if (import) {
        const std::string shot = logs + "/vantrel-sni-dialog.png";
        platform::DeleteFile(shot);
        EXPECT_EQ(RunToEnd({*import, "-window", "root", shot}, env).exitCode, 0);
    }
    click("1");
    EXPECT_TRUE(WaitUntil([&] { return !windowShown(); }, 120s)) << "a click did not hide the window";
    click("1");
    EXPECT_TRUE(WaitUntil(windowShown, 120s)) << "a second click did not show it again";

    // The right button: the host opens the menu it was handed.
    click("3");
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::vector<Geometry> windows = PluginWindows(tree());
            return std::any_of(windows.begin(), windows.end(), [](const Geometry& g) { return g.height > 100; });
        },
        20s))
        << "the host opened no menu";
    if (import) {
        const std::string shot = logs + "/vantrel-sni-menu.png";
        platform::DeleteFile(shot);
        EXPECT_EQ(RunToEnd({*import, "-window", "root", shot}, env).exitCode, 0);
    }
    // "Exit" is the menu's first item.
    RunToEnd({*xdotool, "key", "Down"}, env);
    RunToEnd({*xdotool, "key", "Return"}, env);
    std::optional<int> status = vantrel.WaitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "the menu's Exit did not end the program";
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(WaitUntil([&] { return ClientsBeneath(program).empty(); }, 120s)) << "a client was left running";
}

} // namespace
} // namespace vantrel::e2e
