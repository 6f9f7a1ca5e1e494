#pragma once

#include "core/cachestore.h"
#include "core/options.h"
#include "core/runningslots.h"
#include "core/timings.h"
#include "ui/clientchooser.h"
#include "control/programdirlock.h"
#include "ui/systemtray.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QApplication;

namespace vantrel {

class CMessageChannel;
class CProblemNotices;
class CSignalWatch;
class CVantrelApp;
class CVantrelController;
class CVantrelDlg;
struct CEngineContext;

// What start-up takes from the world. Every member left empty means the real thing; tests give
// their own program directory, answers, runtime directory and durations.
struct AppEnvironment {
    std::string executablePath;                        // empty: /proc/self/exe, started as argv[0]
    std::string channelDirectory;                      // empty: GetChannelDirectory()
    std::optional<std::vector<std::string>> arguments; // none: the process's own, after Qt's
    IUserPrompts* prompts = nullptr;                   // none: the real file dialog and boxes
    CSystemTray::AvailabilityProbe trayProbe;          // none: the toolkit's own answer
    std::optional<Timings> timings;                    // none: Timings::FromEnvironment()
    // Runs once the dialog has initialised, just before the event loop.
    std::function<void(CVantrelApp&)> onStarted;
};

// `vantrel --help`, `-h`, `--version` and `vantrel --post N [--program-dir DIR]`, which need
// neither a client nor a window, and a mistyped `--option` (exit code 2). The exit code when the
// command line asked for one of them or was refused, else none.
std::optional<int> RunCommandLineRequest(int argc, char** argv);

// Exit code 1 with one line on stderr when the toolkit would find no display to open; else none.
std::optional<int> CheckDisplay(int argc, char** argv);
// That line.
std::string NoDisplayMessage();

// The usage text of --help.
std::string UsageText();

// Start-up and exit: the application object, the cache store with the client's choice, the slot
// table, the options and the tray; then the message channel, the engine's context, the
// controller and the dialog; the dialog's initialisation, the event loop, and after it the
// engine's shutdown. Objects go in the reverse order, so no thread outlives what it uses.
class CVantrelApp final : public QObject {
    Q_OBJECT
public:
    // argc and argv are the process's own; the application object is made only when there is none
    // yet (a test's is used as it is).
    CVantrelApp(int& argc, char** argv, AppEnvironment environment = {});
    ~CVantrelApp() override;
    CVantrelApp(const CVantrelApp&) = delete;
    CVantrelApp& operator=(const CVantrelApp&) = delete;

    // Runs the program once; the process's exit code (1: no client was chosen).
    int Run();

    // Ends the program as Exit does, without asking anything: the session is ending, the
    // application is quitting, or a termination signal came. What was typed and not applied is
    // dropped, so no field can refuse.
    void EndFromOutside();

    // The objects of a running program (null before they exist and after Run).
    CCacheStore* Store() const { return m_store.get(); }
    CSystemTray* Tray() const { return m_tray.get(); }
    CMessageChannel* Channel() const { return m_channel.get(); }
    CVantrelDlg* Dialog() const { return m_dialog.get(); }
    CVantrelController* Controller() const { return m_controller.get(); }
    const COptions& Options() const { return m_options; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConfigureApplication();
    // The exit code when the program ends during start-up (no client, handed over), else none.
    std::optional<int> StartUp();
    // Another copy holds this program directory: ask it to show its window. The exit code.
    std::optional<int> HandOver(const std::string& programDir);
    void ConnectChannel();
    void TearDown();

    AppEnvironment m_env;
    std::string m_strArgv0;
    std::vector<std::string> m_arguments;
    std::unique_ptr<QApplication> m_app;
    bool m_bPreviousQuitOnLastWindowClosed = true;
    CQtUserPrompts m_qtPrompts;
    std::string m_strExecutable;
    CProgramDirLock m_lock; // held from before the cache is first looked at until the process ends
    // The process-wide objects, in the order they come into being.
    CRunningSlots m_slots; // before the store, which refers to it
    std::unique_ptr<CCacheStore> m_store;
    COptions m_options;
    std::unique_ptr<CSystemTray> m_tray;
    std::unique_ptr<CProblemNotices> m_notices; // outlives the engine, which reports to it
    std::unique_ptr<CMessageChannel> m_channel;
    std::unique_ptr<CVantrelDlg> m_dialog; // before the context: the engine reports to it
    std::unique_ptr<CEngineContext> m_ctx;
    std::unique_ptr<CVantrelController> m_controller;
    std::unique_ptr<CSignalWatch> m_signals;
};

} // namespace vantrel
