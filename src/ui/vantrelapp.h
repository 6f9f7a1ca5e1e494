#pragma once

#include "control/programsession.h"
#include "core/timings.h"
#include "host/enginepump.h"
#include "host/localcopychannel.h"
#include "host/signalstop.h"
#include "ui/clientchooser.h"
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
class CVantrelApp;
class CVantrelDlg;

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

// The desktop program: the application object, then the program session, to which it gives the
// client's choice through the file dialog, the window (the tray icon and the dialog, made once the
// client is chosen), the event loop as the scheduler, the local sockets to the other copies and
// the termination signals. After the event loop the session shuts the engine down; objects go in
// the reverse order, so no thread outlives what it uses.
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
    CCacheStore* Store() const;
    CSystemTray* Tray() const { return m_tray.get(); }
    CMessageChannel* Channel() const;
    CVantrelDlg* Dialog() const { return m_dialog.get(); }
    CVantrelController* Controller() const;
    const COptions& Options() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConfigureApplication();
    // The exit code when the program ends during start-up (no client, handed over), else none.
    std::optional<int> StartUp();
    void TearDown();

    AppEnvironment m_env;
    std::string m_strArgv0;
    std::vector<std::string> m_arguments;
    std::unique_ptr<QApplication> m_app;
    bool m_bPreviousQuitOnLastWindowClosed = true;
    CQtUserPrompts m_qtPrompts;
    // What the session is given, made before it and gone after it.
    std::unique_ptr<CEnginePump> m_pump;
    std::unique_ptr<CLocalCopyChannel> m_channel;
    std::unique_ptr<CSignalStop> m_stopRequests;
    std::unique_ptr<CSystemTray> m_tray;
    std::unique_ptr<CVantrelDlg> m_dialog;
    std::unique_ptr<CProgramSession> m_session;
};

} // namespace vantrel
