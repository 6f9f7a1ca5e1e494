// Start-up and exit of the whole program in a temp program directory with the simulated client:
// the order of the start, the cancelled choice, and every way the program ends.
#include "platform/process.h"
#include "test_dialog_support.h"
#include "host/messagechannel.h"
#include "control/programdirlock.h"
#include "ui/vantrelapp.h"

#include <QThread>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <sys/stat.h>

namespace vantrel {
namespace {

using test::CPresetPrompts;
using test::ProgramDir;
using test::WaitUntil;

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

// A program directory where the client must be asked for: two clients fit equally well.
struct AskingProgram {
    ProgramDir program;
    test::TempDir runtime;
    CPresetPrompts prompts;

    AskingProgram() { EXPECT_TRUE(platform::CopyFile(program.client, program.dir / "ORVA_second_cmdline.exe", false)); }

    std::string ChannelDir() const { return runtime / "vantrel"; }

    AppEnvironment Environment(std::vector<std::string> arguments = {}) {
        AppEnvironment env;
        env.executablePath = program.exe;
        env.channelDirectory = ChannelDir();
        env.arguments = std::move(arguments);
        env.prompts = &prompts;
        env.trayProbe = [] { return false; };
        env.timings = Timings{}.Scaled(0.01);
        return env;
    }

    int Run(AppEnvironment env) {
        int argc = 1;
        char name[] = "vantrel";
        char* argv[] = {name, nullptr};
        CVantrelApp app(argc, argv, std::move(env));
        return app.Run();
    }

    bool AnySocket() const {
        for (const auto& entry : platform::ListDirectory(ChannelDir()))
            if (entry.name != "." && !entry.isDirectory)
                return true;
        return false;
    }
};

bool AnyDialogExists() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<CVantrelDlg*>(widget) != nullptr)
            return true;
    return false;
}

TEST(App, ACancelledClientChoiceEndsWithCode1BeforeAnythingElseExists) {
    AskingProgram scene;
    bool dialogAtPrompt = true;
    bool socketAtPrompt = true;
    scene.prompts.onPrompt = [&] {
        dialogAtPrompt = AnyDialogExists();
        socketAtPrompt = scene.AnySocket();
    };

    EXPECT_EQ(scene.Run(scene.Environment()), 1);
    ASSERT_EQ(scene.prompts.questions.size(), 1u);
    EXPECT_EQ(scene.prompts.questions[0].title, Text("Vantrel - Select CLI Client"));
    EXPECT_EQ(scene.prompts.questions[0].directory, QString::fromStdString(scene.program.dir.Path()));
    EXPECT_EQ(scene.prompts.questions[0].filter, Text("ORVA CLI (ORVA*.exe);;All Files (*)"));
    ASSERT_EQ(scene.prompts.messages.size(), 1u);
    EXPECT_EQ(scene.prompts.messages[0].kind, EMessageKind::Error);
    EXPECT_EQ(scene.prompts.messages[0].text, Text("A ORVA Command Line client must be selected; Exiting!"));
    EXPECT_FALSE(dialogAtPrompt);
    EXPECT_FALSE(socketAtPrompt);
    EXPECT_FALSE(scene.AnySocket());
    EXPECT_FALSE(AnyDialogExists());
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(1)));
}

TEST(App, StartsInOrderProcessesAndEndsOnThePostedExitWithNoClientLeft) {
    AskingProgram scene;
    // The choice of the program itself is refused; then the client is taken.
    scene.prompts.fileAnswers = {QString::fromStdString(scene.program.exe),
                                 QString::fromStdString(scene.program.client)};
    scene.program.MakeInstance(1, "ORVA_SIM_PROCESS_SECONDS=600\nORVA_SIM_TRANSFER_SECONDS=0.1\n");
    test::WriteFile(scene.program.dir / "vantrel.cfg", "-auto\r\n-cpu 1\r\n");
    const std::string instance = scene.program.Instance(1);

    bool started = false;
    bool processing = false;
    AppEnvironment env = scene.Environment();
    env.onStarted = [&](CVantrelApp& app) {
        started = true;
        EXPECT_EQ(app.Store()->GetClientPath(), scene.program.client);
        EXPECT_TRUE(app.Channel()->IsListening());
        EXPECT_TRUE(scene.AnySocket());
        EXPECT_EQ(app.Options().MaxProcesses, 1u);
        EXPECT_TRUE(app.Options().AutoTransmit);
        // The automatic pass fetches a work unit into instance 1, then a runner processes it; then
        // another program asks every copy to end.
        auto* poll = new QTimer(app.Dialog());
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            if (platform::FindProcessesByTitle("ORVA 1", instance).empty())
                return;
            processing = true;
            poll->stop();
            EXPECT_EQ(PostToAllCopies(scene.ChannelDir(), 16), 1u);
        });
        poll->start(20);
    };

    EXPECT_EQ(scene.Run(std::move(env)), 0);
    EXPECT_TRUE(started);
    EXPECT_TRUE(processing);
    ASSERT_EQ(scene.prompts.messages.size(), 1u);
    EXPECT_EQ(scene.prompts.messages[0].text,
              Text("You Selected the Vantrel program - you must select a ORVA Command Line client; reselect!"));
    EXPECT_EQ(scene.prompts.questions.size(), 2u);
    // The slot's client was killed at exit, and the socket went with the program.
    EXPECT_TRUE(platform::FindProcessesByTitle("ORVA 1", instance).empty());
    EXPECT_TRUE(platform::PathExists(instance + "/work_unit.orv"));
    EXPECT_FALSE(scene.AnySocket());
    EXPECT_FALSE(AnyDialogExists());
}

// Runs the program once with the client found beside it and ends it by what end() does.
int RunAndEnd(AskingProgram& scene, const std::function<void(CVantrelApp&)>& end, bool& hung) {
    scene.prompts.fileAnswers = {QString::fromStdString(scene.program.client)};
    AppEnvironment env = scene.Environment();
    env.onStarted = [&](CVantrelApp& app) {
        QTimer::singleShot(0, app.Dialog(), [&app, end] { end(app); });
        // Only if the way of ending failed: keeps a broken build from hanging the suite.
        QTimer::singleShot(20000, app.Dialog(), [&hung] {
            hung = true;
            QCoreApplication::exit(0);
        });
    };
    return scene.Run(std::move(env));
}

TEST(App, ASignalOrTheApplicationQuittingEndsItLikeExitButTheTitleBarCloseDoesNot) {
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);

    AskingProgram terminated;
    bool hung = false;
    EXPECT_EQ(RunAndEnd(
                  terminated, [](CVantrelApp&) { ::raise(SIGTERM); }, hung),
              0);
    EXPECT_FALSE(hung);
    EXPECT_FALSE(terminated.AnySocket());
    struct sigaction after {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler) << "the earlier handler is back";

    // The session's end reaches the application as a quit, which closes every window first.
    AskingProgram quit;
    hung = false;
    EXPECT_EQ(RunAndEnd(
                  quit, [](CVantrelApp&) { QCoreApplication::quit(); }, hung),
              0);
    EXPECT_FALSE(hung);

    // The title-bar close only minimises: the program runs on until it is told to end.
    AskingProgram closed;
    hung = false;
    bool minimisedAndRunning = false;
    EXPECT_EQ(RunAndEnd(
                  closed,
                  [&](CVantrelApp& app) {
                      app.Dialog()->close();
                      auto* poll = new QTimer(app.Dialog());
                      QObject::connect(poll, &QTimer::timeout, [&app, &minimisedAndRunning, &closed, poll] {
                          if (!app.Dialog()->IsMinimized())
                              return;
                          poll->stop();
                          minimisedAndRunning = app.Dialog()->isMinimized() && !app.Dialog()->HasEnded();
                          PostToAllCopies(closed.ChannelDir(), 16);
                      });
                      poll->start(10);
                  },
                  hung),
              0);
    EXPECT_TRUE(minimisedAndRunning);
    EXPECT_FALSE(hung);
}

TEST(App, TheFirstStartExplainsTheClientAndCanCopyItIntoTheProgramDirectory) {
    // No client in the program directory; one downloaded elsewhere.
    AskingProgram scene;
    test::TempDir downloads;
    const std::string downloaded = downloads / "ORVA_sim_cmdline.exe";
    ASSERT_TRUE(platform::CopyFile(scene.program.client, downloaded, false));
    ::chmod(downloaded.c_str(), 0755);
    platform::DeleteFile(scene.program.client);
    platform::DeleteFile(scene.program.dir / "ORVA_second_cmdline.exe");

    // Cancelled at the explanation: no file dialog, the Part's message, exit code 1.
    scene.prompts.firstRunAnswer = std::optional<bool>();
    EXPECT_EQ(scene.Run(scene.Environment()), 1);
    ASSERT_EQ(scene.prompts.explanations.size(), 1u);
    EXPECT_TRUE(scene.prompts.explanations[0].first.contains(QStringLiteral("ORVA command-line client")));
    EXPECT_FALSE(scene.prompts.explanations[0].second) << "a portable copy leaves the client where it lies";
    EXPECT_TRUE(scene.prompts.questions.empty());
    ASSERT_EQ(scene.prompts.messages.size(), 1u);

    // Copied when the box is ticked: found there next time; the dialog opens on the empty cache
    // with the hint, the focus on Desired Cache Size.
    scene.prompts.firstRunAnswer = std::optional<bool>(true);
    scene.prompts.fileAnswers = {QString::fromStdString(downloaded)};
    scene.prompts.messages.clear();
    bool hinted = false;
    std::string client;
    AppEnvironment env = scene.Environment();
    env.onStarted = [&](CVantrelApp& app) {
        client = app.Store()->GetClientPath();
        const QString hint = Text(kEmptyCacheHint);
        for (QLabel* label : app.Dialog()->findChildren<QLabel*>())
            hinted = hinted || (label->text() == hint && !label->isHidden());
        hinted = hinted && app.Dialog()->focusWidget() == app.Dialog()->Control(1000);
        QTimer::singleShot(0, app.Dialog(), [&app] { app.EndFromOutside(); });
    };
    EXPECT_EQ(scene.Run(std::move(env)), 0);
    ASSERT_EQ(scene.prompts.questions.size(), 1u);
    EXPECT_EQ(scene.prompts.questions[0].directory, QString::fromStdString(FirstRunDirectory()));
    EXPECT_EQ(client, scene.program.client);
    EXPECT_TRUE(platform::PathExists(scene.program.client)) << "the client was not copied";
    EXPECT_TRUE(platform::PathExists(downloaded));
    EXPECT_TRUE(hinted) << "no hint and focus over the empty cache";
    EXPECT_TRUE(scene.prompts.messages.empty());
    // A client outside the ORVA*.exe names is copied under one the next start finds.
    EXPECT_EQ(CopyClientIntoProgramDir(downloaded, downloads / "sub-missing"), std::string());
    test::WriteFile(downloads / "client-linux", "x");
    EXPECT_EQ(CopyClientIntoProgramDir(downloads / "client-linux", scene.program.dir.Path()),
              scene.program.dir / "ORVA_client-linux.exe");
}

TEST(App, TheFirstRunBoxIsTickedForAnInstalledCopyAndNotForAPortableOne) {
    // The real box shows the default it is given.
    auto boxTicked = [](bool copyByDefault) {
        std::optional<bool> ticked;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ticked = box->checkBox() != nullptr && box->checkBox()->text() == Text(kCopyClientText) &&
                         box->checkBox()->isChecked();
                box->reject();
            }
        });
        look.start(10);
        CQtUserPrompts prompts;
        EXPECT_EQ(prompts.ExplainFirstRun(QStringLiteral("no client"), copyByDefault), std::nullopt);
        return ticked;
    };
    EXPECT_EQ(boxTicked(true), std::optional<bool>(true));
    EXPECT_EQ(boxTicked(false), std::optional<bool>(false));

    // No client anywhere the start looks; each start cancelled at the explanation.
    AskingProgram scene;
    platform::DeleteFile(scene.program.client);
    platform::DeleteFile(scene.program.dir / "ORVA_second_cmdline.exe");
    scene.prompts.firstRunAnswer = std::optional<bool>();
    // Portable: the program directory is the executable's own folder.
    EXPECT_EQ(scene.Run(scene.Environment()), 1);
    // Installed: the program directory lies elsewhere (the user's data folder).
    test::TempDir data;
    {
        test::ScopedEnv programDir("VANTREL_PROGRAM_DIR", data.Path());
        EXPECT_EQ(scene.Run(scene.Environment()), 1);
    }
    ASSERT_EQ(scene.prompts.explanations.size(), 2u);
    EXPECT_FALSE(scene.prompts.explanations[0].second) << "a portable copy leaves the client where it lies";
    EXPECT_TRUE(scene.prompts.explanations[0].first.contains(QString::fromStdString(scene.program.dir.Path())));
    EXPECT_TRUE(scene.prompts.explanations[1].second) << "an installed copy would ask at every start";
    EXPECT_TRUE(scene.prompts.explanations[1].first.contains(QString::fromStdString(data.Path())));
}

TEST(App, ASecondStartInTheSameProgramDirectoryHandsOverAndTouchesNothing) {
    AskingProgram scene;
    const std::string dir = scene.program.dir.Path();
    scene.program.MakeInstance(1);
    // The running copy: its lock, and its channel answering from a thread of its own as another
    // process would.
    CProgramDirLock held;
    ASSERT_EQ(held.Acquire(dir), CProgramDirLock::EResult::Taken);
    EXPECT_EQ(CProgramDirLock::ReadHolder(dir), ::getpid());
    QThread thread;
    auto* channel = new CMessageChannel(scene.ChannelDir());
    channel->SetProgramDirectory(dir);
    channel->moveToThread(&thread);
    std::atomic<int> shows{0};
    QObject::connect(channel, &CMessageChannel::ShowRequested, channel, [&] { ++shows; }, Qt::DirectConnection);
    thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(channel, [&] { listening = channel->Listen(); }, Qt::BlockingQueuedConnection);
    ASSERT_TRUE(listening);

    testing::internal::CaptureStdout();
    EXPECT_EQ(scene.Run(scene.Environment({"-cpu", "3", "-auto"})), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("already runs"), std::string::npos);
    // The running copy answers first, then shows its window.
    EXPECT_TRUE(WaitUntil([&] { return shows.load() == 1; }));
    // Nothing of the cache was looked at: no client asked for, no directory made or removed.
    EXPECT_TRUE(scene.prompts.questions.empty());
    EXPECT_TRUE(platform::PathExists(scene.program.Instance(1)));
    EXPECT_FALSE(platform::PathExists(scene.program.Instance(2)));
    QMetaObject::invokeMethod(channel, [channel] { delete channel; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();

    // Once the other copy has ended, a start runs there as usual and holds the directory.
    held.Release();
    bool hung = false;
    bool lockedWhileRunning = false;
    EXPECT_EQ(RunAndEnd(
                  scene,
                  [&](CVantrelApp& app) {
                      CProgramDirLock probe;
                      lockedWhileRunning = probe.Acquire(dir) == CProgramDirLock::EResult::HeldByOther;
                      app.EndFromOutside();
                  },
                  hung),
              0);
    EXPECT_FALSE(hung);
    EXPECT_TRUE(lockedWhileRunning);
    EXPECT_EQ(held.Acquire(dir), CProgramDirLock::EResult::Taken) << "the lock outlived the program";
}

} // namespace
} // namespace vantrel
