#include "control/programsession.h"

#include <chrono>
#include <iostream>
#include <thread>

#include "core/configfile.h"
#include "platform/fileops.h"

namespace vantrel {

namespace {

// How long a start waits for the copy that holds its program directory to answer. That copy
// listens once its client is chosen; one that has just ended lets go of the lock instead.
constexpr auto kHandOverWait = std::chrono::seconds(10);
constexpr auto kHandOverRetry = std::chrono::milliseconds(100);

std::string HolderText(const std::string& programDir) {
    const auto holder = CProgramDirLock::ReadHolder(programDir);
    return holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string();
}

} // namespace

CProgramSession::CProgramSession(ProgramFrontEnd frontEnd) : m_frontEnd(std::move(frontEnd)) {}

CProgramSession::~CProgramSession() {
    Shutdown();
}

std::optional<int> CProgramSession::Fail(const std::string& why) {
    if (m_frontEnd.reportStartFailure)
        m_frontEnd.reportStartFailure(why);
    else
        std::cerr << "vantrel: " << why << "\n";
    return 1;
}

std::optional<int> CProgramSession::Start() {
    m_place = FindStartPlace(m_frontEnd.executable, m_frontEnd.argv0);
    if (!m_place.error.empty())
        return Fail(m_place.error);
    const std::string& dir = ProgramDir();

    // One copy per program directory, decided before the cache is touched: a second copy would
    // stop the first one's clients and start its own beside them.
    switch (m_lock.Acquire(dir)) {
    case CProgramDirLock::EResult::Taken:
        break;
    case CProgramDirLock::EResult::HeldByOther:
        if (std::optional<int> code = HandOver())
            return code;
        break;
    case CProgramDirLock::EResult::Unavailable:
        // Nothing can be kept in such a directory either; the program says why as it goes.
        std::cerr << LockUnavailableMessage(dir) << "\n";
        break;
    }

    // The client is chosen before any window exists; a cancelled choice ends the program here.
    m_store = std::make_unique<CCacheStore>(dir, m_place.where.fileName, m_slots);
    std::unique_ptr<IClientChooser> chooser = m_frontEnd.makeChooser(m_place);
    if (!m_store->SelectClientAtStartup(*chooser))
        return 1;
    if (m_frontEnd.makeView)
        m_pView = m_frontEnd.makeView(*this);

    // Without a channel the program runs on; only other programs cannot reach it.
    ICopyChannel* channel = m_frontEnd.channel;
    if (channel != nullptr && !channel->Serve(*this))
        std::cerr << "vantrel: cannot listen in " << channel->Where()
                  << "; vantrel --post and --status will not reach this copy\n";

    const Timings timings = m_frontEnd.timings.value_or(Timings::FromEnvironment());
    IScheduler& scheduler = m_frontEnd.scheduler;
    m_notices = std::make_unique<CProblemNotices>(m_options, timings, m_frontEnd.presentNotice, scheduler);
    m_ctx = std::make_unique<CEngineContext>(*m_store, m_slots, m_options, timings, scheduler);
    m_ctx->events = m_notices.get();
    m_controller = std::make_unique<CVantrelController>(
        *m_ctx, m_pView, scheduler, m_frontEnd.arguments,
        GetConfigurationPath(platform::JoinPath(dir, m_place.where.fileName)));
    scheduler.Attach(m_controller.get());
    if (m_frontEnd.stopRequests != nullptr)
        m_frontEnd.stopRequests->Watch([this] { EndFromOutside(); });

    if (m_frontEnd.initDialog)
        m_frontEnd.initDialog(*m_controller);
    else
        m_controller->OnInitDialog(false);
    // The others are told only now, and without waiting on them: a copy that is slow to answer
    // never holds up one whose program directory is its own.
    if (channel != nullptr)
        channel->Greet(dir);
    return std::nullopt;
}

std::optional<int> CProgramSession::HandOver() {
    const std::string& dir = ProgramDir();
    if (!m_frontEnd.handOver || m_frontEnd.channel == nullptr) {
        std::cerr << "vantrel: another Vantrel" << HolderText(dir) << " runs in " << dir << "; not started again\n";
        return 1;
    }
    const auto deadline = std::chrono::steady_clock::now() + kHandOverWait;
    for (;;) {
        switch (m_frontEnd.channel->AskToShow(dir)) {
        case ICopyChannel::EHandOver::Shown:
            std::cout << "vantrel: Vantrel already runs in " << dir << "; its window is shown\n";
            return 0;
        case ICopyChannel::EHandOver::NoWindow:
            std::cerr << "vantrel: Vantrel already runs in " << dir
                      << " without a window (vantrel --headless); not started again\n";
            return 1;
        case ICopyChannel::EHandOver::NoAnswer:
            break;
        }
        if (m_lock.Acquire(dir) == CProgramDirLock::EResult::Taken)
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kHandOverRetry);
    }
    std::cerr << "vantrel: another Vantrel" << HolderText(dir) << " runs in " << dir
              << " and does not answer (is it asking for its client?); not started again\n";
    return 1;
}

void CProgramSession::EndFromOutside() {
    if (m_controller == nullptr || HasEnded())
        return;
    // What was typed and not applied is dropped, so no field can refuse.
    if (m_pView != nullptr)
        m_pView->ShowFields();
    if (!m_controller->Exit() && m_pView != nullptr)
        m_pView->EndDialog();
    m_bEnded = true;
}

bool CProgramSession::HasEnded() const {
    return m_bEnded || (m_controller != nullptr && m_controller->HasEnded());
}

void CProgramSession::Shutdown() {
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    if (m_frontEnd.stopRequests != nullptr)
        m_frontEnd.stopRequests->StopWatching();
    if (m_frontEnd.channel != nullptr)
        m_frontEnd.channel->StopServing();
    if (m_controller != nullptr)
        m_controller->Shutdown();
    m_frontEnd.scheduler.Attach(nullptr);
}

void CProgramSession::OnRegisteredMessage(unsigned wParam) {
    if (m_controller != nullptr)
        m_controller->OnRegisteredMessage(wParam);
}

bool CProgramSession::AcceptsExitRequest() const {
    return HasEnded() || m_pView == nullptr || m_pView->FieldsAcceptable();
}

bool CProgramSession::ShowWindow() {
    if (m_pView == nullptr)
        return false;
    m_pView->PostSysCommand(SC_RESTORE);
    return true;
}

void CProgramSession::OtherCopyStarted() {
    // With two copies running, each names its program directory, so the user can tell them apart.
    if (m_pView != nullptr)
        m_pView->ShowProgramDirectory(ProgramDir());
}

std::string CProgramSession::EncodedStatus() const {
    if (m_controller == nullptr)
        return {};
    StatusReport report = m_controller->Status();
    const std::optional<std::chrono::milliseconds> remaining = m_frontEnd.scheduler.RetryTimerRemaining();
    report.RetryTimerArmed = report.RetryTimerArmed && remaining.has_value();
    report.RetryDueInSeconds =
        report.RetryTimerArmed && remaining->count() > 0 ? (remaining->count() + 999) / 1000 : 0;
    return EncodeStatus(report);
}

} // namespace vantrel
