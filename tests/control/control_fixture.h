#pragma once

// What the controller and session tests share: a window that only records, the front end's
// thread run by hand with a clock of its own, the other copies and the stop requests as fakes,
// and a program session over a program directory with the simulated client.
#include "control/copychannel.h"
#include "control/dialogview.h"
#include "control/programsession.h"
#include "control/scheduler.h"
#include "engine/clientcontrol.h"
#include "platform/process.h"
#include "support/programdir.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::test {

// The window: every call recorded by name. Numbers the test "types" wait in their fields until
// a read commits them; ShowFields overwrites them, as the real fields are overwritten.
class CFakeView final : public IDialogView {
public:
    explicit CFakeView(COptions& options) : m_options(options) {}

    std::optional<unsigned> typedMaxProcesses;
    std::optional<unsigned> typedDesiredCacheSize;
    std::optional<unsigned> typedPort;
    bool refuses = false; // some number field holds text that is no number
    bool minimized = false;

    bool ReadFields() override {
        Read("ReadFields");
        return !refuses;
    }
    void ReadFieldsQuietly() override { Read("ReadFieldsQuietly"); }
    bool FieldsAcceptable() const override { return !refuses; }
    void ShowFields() override;
    void SetIcon(unsigned iconId) override {
        Record("SetIcon");
        icons.push_back(iconId);
    }
    void SetTrayTip(const std::string& text) override {
        Record("SetTrayTip");
        tip = text;
    }
    void ShowProgress(const ProgressFigures&) override { Record("ShowProgress"); }
    void ShowNotice(const std::string&) override { Record("ShowNotice"); }
    void SetWaitCursor(bool on) override { Record(on ? "WaitCursorOn" : "WaitCursorOff"); }
    void EnableServerControls(const ServerControlStates& states) override {
        Record("EnableServerControls");
        serverStates = states;
    }
    void HideAffinityCheckBox() override { Record("HideAffinityCheckBox"); }
    void ShowProgramDirectory(const std::string& dir) override {
        Record("ShowProgramDirectory");
        shownDirectory = dir;
    }
    void TransmitStateChanged(bool running) override { // any thread
        std::lock_guard lock(m_transmitLock);
        m_transmitStates.push_back(running);
    }
    void PostSysCommand(unsigned command) override {
        Record("PostSysCommand");
        sysCommands.push_back(command);
    }
    bool IsMinimized() const override { return minimized; }
    void EndDialog() override { Record("EndDialog"); }

    // The calls by name, in order, since the last Forget.
    const std::vector<std::string>& Calls() const { return m_calls; }
    int Count(const std::string& name) const {
        return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), name));
    }
    void Forget() { m_calls.clear(); }
    std::vector<bool> TransmitStates() const {
        std::lock_guard lock(m_transmitLock);
        return m_transmitStates;
    }

    std::vector<unsigned> icons; // every icon set, in order
    std::string tip;
    std::string shownDirectory;
    ServerControlStates serverStates{};
    std::vector<unsigned> sysCommands;
    unsigned shownDesiredCacheSize = 0; // the field's text at the last ShowFields
    unsigned shownMaxProcesses = 0;

private:
    void Record(std::string name) { m_calls.push_back(std::move(name)); }
    // A read commits what was typed.
    void Read(std::string name);

    COptions& m_options;
    std::vector<std::string> m_calls;
    mutable std::mutex m_transmitLock;
    std::vector<bool> m_transmitStates;
};

// The front end's thread, run by the test: posted messages, calls handed over from other threads,
// later calls and the retry timer wait until the test runs them. Its clock moves only when the
// test moves it, or a little at a time while PumpUntil waits.
class CHandScheduler final : public IScheduler {
public:
    using Clock = std::chrono::steady_clock;

    void Attach(CVantrelController* controller) override { m_controller = controller; }
    void End() override;
    void Post(unsigned message) override;
    void ArmRetryTimer(std::chrono::milliseconds period) override;
    void KillRetryTimer() override;
    std::optional<std::chrono::milliseconds> RetryTimerRemaining() const override;
    bool CallLater(std::chrono::milliseconds delay, std::function<void()> fn) override;
    void RunOnOwnThread(std::function<void()> fn) override;

    void Advance(std::chrono::milliseconds step);
    // Runs what is ready: handed-over calls, messages, later calls due by now. How many ran.
    std::size_t RunPending();
    // Runs what comes until cond holds; false when it did not within a minute.
    bool PumpUntil(const std::function<bool()>& cond);
    // The retry timer's time has come: the clock moves to it and the controller hears of it.
    // False when the timer is not armed.
    bool FireRetryTimer();
    // The period of every arm, in order.
    std::vector<std::chrono::milliseconds> Arms() const;
    bool Ended() const;
    // How often message has been handed to the controller.
    int Delivered(unsigned message) const;

private:
    struct Later {
        Clock::time_point due;
        std::function<void()> fn;
    };

    const std::thread::id m_owner = std::this_thread::get_id();
    CVantrelController* m_controller = nullptr;
    mutable std::mutex m_lock;
    std::condition_variable m_arrived;
    Clock::time_point m_now = Clock::time_point(std::chrono::hours(1));
    std::deque<unsigned> m_messages;
    std::deque<std::function<void()>> m_handedOver;
    std::vector<Later> m_later;
    std::optional<Later> m_retry; // fn unused: the timer goes to the controller
    std::chrono::milliseconds m_retryPeriod{0};
    std::vector<std::chrono::milliseconds> m_arms;
    bool m_bEnded = false;
    std::vector<unsigned> m_delivered; // front end's thread
};

// The other copies of this user.
class CFakeChannel final : public ICopyChannel {
public:
    std::function<EHandOver()> answer = [] { return EHandOver::NoAnswer; };
    bool serves = true;
    std::vector<std::string> asked;
    std::vector<std::string> greeted;
    CProgramSession* served = nullptr;
    int stopped = 0;

    EHandOver AskToShow(const std::string& programDir) override {
        asked.push_back(programDir);
        return answer();
    }
    bool Serve(CProgramSession& session) override {
        served = &session;
        return serves;
    }
    void Greet(const std::string& programDir) override { greeted.push_back(programDir); }
    void StopServing() override { ++stopped; }
    std::string Where() const override { return "the test's channel"; }
};

class CFakeStopRequests final : public IStopRequests {
public:
    std::function<void()> onStop;
    int stopped = 0;
    void Watch(std::function<void()> fn) override { onStop = std::move(fn); }
    void StopWatching() override {
        ++stopped;
        onStop = nullptr;
    }
};

// Durations for a test: no hang check, short pauses, and retry periods that only the hand-run
// timer ever "waits" for.
Timings ControlTimings();

// One running copy over a program directory of its own, or over another scene's, with the fake
// window (unless withView is false), channel and stop requests and the hand-run scheduler.
class ControlScene {
public:
    explicit ControlScene(std::vector<std::string> words = {}, const ProgramDir* shared = nullptr);
    ~ControlScene();
    ControlScene(const ControlScene&) = delete;
    ControlScene& operator=(const ControlScene&) = delete;

    // Builds the session from the settings below and starts it.
    std::optional<int> Start();
    CVantrelController& Controller() const { return *session->Controller(); }
    CCacheStore& Store() const { return *session->Store(); }
    COptions& Options() const { return session->Options(); }
    bool PumpUntil(const std::function<bool()>& cond) { return scheduler.PumpUntil(cond); }
    // The front end's thread runs until the end of the count-th pass has been handled.
    bool PumpUntilPassesEnded(int count);

    // Instance n holding a work unit (knobs for its client, as ProgramDir::MakeInstance).
    void WorkUnit(unsigned n, const std::string& knobs = {}) const;
    // Instance n holding a finished result.
    void Result(unsigned n) const;
    // Whether a client works in instance n. Looked for by its title, not by a probe of its lock
    // file: the probe holds the lock for a moment, and a client starting then finds it taken and
    // ends at once.
    bool Busy(unsigned n) const {
        return !platform::FindProcessesByTitle(FormatClientTitle(n), Store().GetInstancePath(n)).empty();
    }
    // The project server's switch files ("unreachable", "no_work").
    void ServerSwitch(const std::string& name, bool on) const;

private:
    std::unique_ptr<ProgramDir> m_ownDir;

public:
    const ProgramDir& program;
    std::vector<std::string> arguments;
    bool withView = true;
    bool handOver = true;
    std::string chosenClient; // what the chooser answers when the directory holds no client
    int choicesAsked = 0;
    std::vector<std::string> chooserMessages;
    int viewsMade = 0;
    std::vector<ProblemNotice> notices;
    std::function<void()> onChooserMade; // runs when the session asks for the chooser
    CHandScheduler scheduler;
    CFakeChannel channel;
    CFakeStopRequests stops;
    std::unique_ptr<CFakeView> view;
    std::unique_ptr<CProgramSession> session;
};

} // namespace vantrel::test
