// The files the desktop program keeps in the user's configuration folder, as a hostile user or a
// damaged disk leaves them: a FIFO or a huge file for the window places, links in the autostart
// folder.
#include "platform/fileops.h"
#include "support/tempdir.h"
#include "test_dialog_support.h"
#include "ui/autostart.h"
#include "ui/windowplace.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

// A FIFO under the name would block a reader that opens it as a plain file until a writer comes.
TEST(UserFiles, AWindowPlaceFileThatIsNoPlainFileOfSaneSizeIsIgnored) {
    test::TempDir config;
    test::ScopedEnv configHome("XDG_CONFIG_HOME", config.Path());
    test::MakeDirs(config / "vantrel");
    const std::string places = config / "vantrel/windows.ini";
    ASSERT_EQ(::mkfifo(places.c_str(), 0600), 0);
    std::future<QByteArray> loaded = std::async(std::launch::async, [] { return LoadWindowPlace("/p"); });
    if (loaded.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Let the blocked reader go, so the test fails instead of hanging.
        const int writer = ::open(places.c_str(), O_WRONLY | O_NONBLOCK);
        ::close(writer);
        FAIL() << "reading the window places blocked on a FIFO";
    }
    EXPECT_TRUE(loaded.get().isEmpty());
    std::future<bool> saved = std::async(std::launch::async, [] { return SaveWindowPlace("/p", "geometry"); });
    if (saved.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        const int writer = ::open(places.c_str(), O_WRONLY | O_NONBLOCK);
        ::close(writer);
        FAIL() << "saving the window places blocked on a FIFO";
    }
    EXPECT_FALSE(saved.get());
    struct stat info {};
    ASSERT_EQ(::lstat(places.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "what is not ours to read is not replaced either";

    // A huge file (sparse here) is not read whole at every start.
    ASSERT_EQ(::unlink(places.c_str()), 0);
    ASSERT_TRUE(SaveWindowPlace("/p", "geometry"));
    EXPECT_EQ(LoadWindowPlace("/p"), QByteArray("geometry"));
    ASSERT_EQ(::truncate(places.c_str(), 100 << 20), 0);
    EXPECT_TRUE(LoadWindowPlace("/p").isEmpty());
    EXPECT_FALSE(SaveWindowPlace("/p", "other"));
    EXPECT_EQ(platform::FileSize(places).value_or(0), 100u << 20);
}

// The entry is written only into a real folder of this user, never through a link.
TEST(UserFiles, StartAtLoginNeverWritesThroughALink) {
    test::TempDir config;
    test::TempDir elsewhere;
    test::ScopedEnv configHome("XDG_CONFIG_HOME", config.Path() + "/fresh");
    // A missing folder is made, private.
    ASSERT_TRUE(SetStartAtLogin(true, "/opt/vantrel/vantrel"));
    EXPECT_TRUE(IsStartAtLogin());
    struct stat info {};
    ASSERT_EQ(::lstat((config / "fresh/autostart").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    // The folder is a link to someone else's: nothing is written there.
    test::ScopedEnv linked("XDG_CONFIG_HOME", config.Path());
    ASSERT_EQ(::symlink(elsewhere.Path().c_str(), (config / "autostart").c_str()), 0);
    EXPECT_FALSE(IsStartAtLogin());
    EXPECT_FALSE(SetStartAtLogin(true, "/opt/vantrel/vantrel"));
    EXPECT_FALSE(platform::PathExists(elsewhere / "vantrel.desktop"));
    EXPECT_FALSE(IsStartAtLogin());
    test::WriteFile(elsewhere / "vantrel.desktop", "theirs");
    EXPECT_FALSE(IsStartAtLogin()) << "an entry in a linked folder is not ours";
    EXPECT_FALSE(SetStartAtLogin(false, "/opt/vantrel/vantrel"));
    EXPECT_EQ(test::ReadFile(elsewhere / "vantrel.desktop"), "theirs");

    // A link planted in the entry's place is replaced, and what it points to stays as it was.
    ASSERT_EQ(::unlink((config / "autostart").c_str()), 0);
    test::MakeDirs(config / "autostart");
    const std::string entry = config / "autostart/vantrel.desktop";
    const std::string target = elsewhere / "vantrel.desktop";
    ASSERT_EQ(::symlink(target.c_str(), entry.c_str()), 0);
    ASSERT_TRUE(SetStartAtLogin(true, "/opt/vantrel/vantrel"));
    EXPECT_EQ(test::ReadFile(target), "theirs");
    ASSERT_EQ(::lstat(entry.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_NE(test::ReadFile(entry).find("Exec=\"/opt/vantrel/vantrel\" -min\n"), std::string::npos);
    // Turning it off removes a planted link as a link.
    ASSERT_EQ(::unlink(entry.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), entry.c_str()), 0);
    EXPECT_TRUE(SetStartAtLogin(false, "/opt/vantrel/vantrel"));
    EXPECT_FALSE(platform::PathExists(entry));
    EXPECT_EQ(test::ReadFile(target), "theirs");

    // A folder of another user is not written into (only root can make one in a test).
    if (::getuid() == 0) {
        ASSERT_EQ(::chown((config / "autostart").c_str(), 65534, 65534), 0);
        EXPECT_FALSE(SetStartAtLogin(true, "/opt/vantrel/vantrel"));
        EXPECT_FALSE(platform::PathExists(entry));
    }
}

// The menu's tick follows the disk: an entry made or removed behind the program's back shows
// when the menu opens, and a change that fails leaves the tick as the disk is.
TEST(UserFiles, TheStartAtLoginTickShowsWhatTheDiskHolds) {
    test::TempDir config;
    test::ScopedEnv configHome("XDG_CONFIG_HOME", config.Path());
    test::DialogScene scene;
    QAction* login = scene.WindowMenuItem(QStringLiteral("Start at login"));
    ASSERT_NE(login, nullptr);
    EXPECT_FALSE(login->isChecked());
    ASSERT_TRUE(SetStartAtLogin(true, "/opt/vantrel/vantrel"));
    emit scene.dialog->WindowMenu()->aboutToShow();
    EXPECT_TRUE(login->isChecked());
    ASSERT_TRUE(SetStartAtLogin(false, "/opt/vantrel/vantrel"));
    emit scene.dialog->WindowMenu()->aboutToShow();
    EXPECT_FALSE(login->isChecked());
    ASSERT_EQ(::rmdir((config / "autostart").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent", (config / "autostart").c_str()), 0);
    login->setChecked(true);
    EXPECT_FALSE(login->isChecked()) << "the tick claims an entry that was not written";
}

// Alt+V opens the window's menu: no control of the dialog may take the same key.
TEST(UserFiles, TheMenuKeyBelongsToTheMenuAlone) {
    test::DialogScene scene;
    const QKeySequence menuKey = QKeySequence::mnemonic(scene.dialog->WindowMenu()->title());
    ASSERT_EQ(menuKey, QKeySequence(Qt::ALT | Qt::Key_V));
    for (QAbstractButton* button : scene.dialog->findChildren<QAbstractButton*>())
        EXPECT_NE(QKeySequence::mnemonic(button->text()), menuKey) << button->text().toStdString();
    for (QLabel* label : scene.dialog->findChildren<QLabel*>())
        EXPECT_NE(QKeySequence::mnemonic(label->text()), menuKey) << label->text().toStdString();
}

} // namespace
} // namespace vantrel
