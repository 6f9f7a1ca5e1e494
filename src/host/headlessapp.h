#pragma once

#include "control/programdirlock.h"
#include "control/vantrelcontroller.h"
#include "core/cachestore.h"
#include "core/options.h"
#include "core/runningslots.h"
#include "core/timings.h"
#include "host/enginepump.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCoreApplication;

namespace vantrel {

class CMessageChannel;
class CProblemNotices;
class CSignalWatch;

// `vantrel --headless`: the same engine, options and configuration file as the desktop program,
// without a window, a tray or any of the toolkit's graphical parts. What the window would show
// goes nowhere; what a box would ask ends the start with a message on stderr and exit code 1.
// It ends as Exit does on SIGTERM, SIGINT, SIGHUP or `vantrel --post 16`.
class CHeadlessApp final : public IDialogView {
public:
    // argv: the process's own; "--headless" among them is not a keyword and is left out.
    CHeadlessApp(int& argc, char** argv);
    ~CHeadlessApp() override;
    CHeadlessApp(const CHeadlessApp&) = delete;
    CHeadlessApp& operator=(const CHeadlessApp&) = delete;

    // Runs the program once; the process's exit code.
    int Run();

    // IDialogView: a headless program's options are its fields.
    bool ReadFields() override { return true; }
    void ShowFields() override {}
    void SetIcon(unsigned) override {}
    void SetTrayTip(const std::string&) override {}
    void ShowProgress(const ProgressFigures& figures) override { m_fPercent = figures.Fraction * 100.0f; }
    float BarPercent() const override { return m_fPercent; }
    void SetWaitCursor(bool) override {}
    void PostSysCommand(unsigned) override {}
    void EnableServerControls(const ServerControlStates&) override {}
    void HideAffinityCheckBox() override {}
    bool IsMinimized() const override { return false; }
    void EndDialog() override;
    void TransmitStateChanged(bool) override {}
    void ArmRetryTimer(std::chrono::milliseconds period) override { m_pump->ArmRetryTimer(period); }
    void KillRetryTimer() override { m_pump->KillRetryTimer(); }
    bool CallLater(std::chrono::milliseconds delay, std::function<void()> fn) override {
        return m_pump->CallLater(delay, std::move(fn));
    }

private:
    // The exit code when the program ends during start-up, else none.
    std::optional<int> StartUp();
    void EndFromOutside();
    void TearDown();

    std::string m_strArgv0;
    std::vector<std::string> m_arguments;
    std::unique_ptr<QCoreApplication> m_app;
    CProgramDirLock m_lock;
    CRunningSlots m_slots;
    std::unique_ptr<CCacheStore> m_store;
    COptions m_options;
    std::unique_ptr<CProblemNotices> m_notices;
    std::unique_ptr<CMessageChannel> m_channel;
    std::unique_ptr<CEnginePump> m_pump;
    std::unique_ptr<CEngineContext> m_ctx;
    std::unique_ptr<CVantrelController> m_controller;
    std::unique_ptr<CSignalWatch> m_signals;
    float m_fPercent = 0.0f;
    bool m_bEnded = false;
};

// The message a headless start gives when it would have to ask for the client.
std::string HeadlessNoClientMessage(const std::string& programDir);

// The environment variable through which `vantrel --headless` names its own program file to the
// headless program it becomes.
inline constexpr const char* kProgramFileVariable = "VANTREL_PROGRAM_FILE";

} // namespace vantrel
