#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/copychannel.h"
#include "control/dialogview.h"
#include "control/problemnotices.h"
#include "control/programdirlock.h"
#include "control/scheduler.h"
#include "control/startplace.h"
#include "control/statusreport.h"
#include "control/vantrelcontroller.h"
#include "core/cachestore.h"
#include "core/options.h"
#include "core/runningslots.h"
#include "core/timings.h"
#include "engine/enginecontext.h"

namespace vantrel {

class CProgramSession;

// What only a front end can give a running copy. The references outlive the session.
struct ProgramFrontEnd {
    explicit ProgramFrontEnd(IScheduler& frontEndScheduler) : scheduler(frontEndScheduler) {}

    std::string executable;             // the program's own file; empty: the running executable
    std::string argv0;                  // the first argument the program was started with
    std::vector<std::string> arguments; // the option keywords, after the program name
    IScheduler& scheduler;              // the front end's thread
    ICopyChannel* channel = nullptr;    // the other copies; none: this copy is out of their reach
    IStopRequests* stopRequests = nullptr;
    std::optional<Timings> timings;     // none: Timings::FromEnvironment()
    // Another copy holds the program directory: true asks it to show its window and ends this
    // start; false refuses to start beside it.
    bool handOver = true;
    // Asks the user for the client when none is found at the start place.
    std::function<std::unique_ptr<IClientChooser>(const StartPlace&)> makeChooser;
    // Says why the program cannot start; none: a line on stderr.
    std::function<void(const std::string&)> reportStartFailure;
    // Where the engine's problem notices go.
    CProblemNotices::Presenter presentNotice;
    // The window, made once the client is chosen; none for a program without one.
    std::function<IDialogView*(CProgramSession&)> makeView;
    // The dialog's initialisation; none: the controller's alone.
    std::function<void(CVantrelController&)> initDialog;
};

// One running copy of the program: the program-directory lock, the slot table, the store, the
// options, the problem notices, the engine's context and the dialog's logic, made in that order
// by Start and gone in the reverse order. Each front end builds exactly one.
class CProgramSession {
public:
    explicit CProgramSession(ProgramFrontEnd frontEnd);
    ~CProgramSession();
    CProgramSession(const CProgramSession&) = delete;
    CProgramSession& operator=(const CProgramSession&) = delete;

    // The start, up to the dialog's initialisation; the exit code when the program ends here (no
    // client chosen, handed over to another copy, no place to run), else none.
    std::optional<int> Start();
    // Ends the program as Exit does without asking anything: what was typed and not applied is
    // dropped, so no field can refuse.
    void EndFromOutside();
    // Exit has ended the dialog (or EndFromOutside has).
    bool HasEnded() const;
    // The engine stopped for good: the watcher, every slot's client and every engine thread;
    // nothing reaches the controller after it. Also done by the destructor.
    void Shutdown();

    // Requests of other copies, on the front end's thread.
    void OnRegisteredMessage(unsigned wParam);
    // An exit asked for now would end the program (no field the user left invalid keeps it).
    bool AcceptsExitRequest() const;
    // Shows the window; false when there is none.
    bool ShowWindow();
    // A copy in another program directory has started.
    void OtherCopyStarted();
    // The status report as the status socket sends it; empty before the controller exists.
    std::string EncodedStatus() const;

    const std::string& ProgramDir() const { return m_place.where.directory; }
    const StartPlace& Place() const { return m_place; }
    CCacheStore* Store() const { return m_store.get(); }
    COptions& Options() { return m_options; }
    const COptions& Options() const { return m_options; }
    CRunningSlots& RunningSlots() { return m_slots; }
    CVantrelController* Controller() const { return m_controller.get(); }
    IDialogView* View() const { return m_pView; }

private:
    // The program directory is held by another copy: the exit code, or none to start after all.
    std::optional<int> HandOver();
    std::optional<int> Fail(const std::string& why);

    ProgramFrontEnd m_frontEnd;
    StartPlace m_place;
    IDialogView* m_pView = nullptr;
    bool m_bEnded = false;
    bool m_bShutDown = false;
    // Held from before the cache is first looked at until the process ends.
    CProgramDirLock m_lock;
    CRunningSlots m_slots; // before the store, which refers to it
    std::unique_ptr<CCacheStore> m_store;
    COptions m_options;
    std::unique_ptr<CProblemNotices> m_notices; // outlives the engine, which reports to it
    std::unique_ptr<CEngineContext> m_ctx;
    std::unique_ptr<CVantrelController> m_controller;
};

} // namespace vantrel
