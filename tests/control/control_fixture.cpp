#include "control_fixture.h"

#include "control/vantrelcontroller.h"
#include "platform/fileops.h"

#include <algorithm>

namespace vantrel::test {

void CFakeView::Read(std::string name) {
    Record(std::move(name));
    if (typedMaxProcesses)
        m_options.MaxProcesses = *typedMaxProcesses;
    if (typedDesiredCacheSize)
        m_options.DesiredCacheSize = *typedDesiredCacheSize;
    if (typedPort)
        m_options.ServerPort = *typedPort;
}

void CFakeView::ShowFields() {
    Record("ShowFields");
    typedMaxProcesses.reset();
    typedDesiredCacheSize.reset();
    typedPort.reset();
    refuses = false;
    shownDesiredCacheSize = m_options.DesiredCacheSize;
    shownMaxProcesses = m_options.MaxProcesses;
}

void CHandScheduler::End() {
    std::lock_guard lock(m_lock);
    m_bEnded = true;
    m_retry.reset();
    m_later.clear();
}

void CHandScheduler::Post(unsigned message) {
    {
        std::lock_guard lock(m_lock);
        m_messages.push_back(message);
    }
    m_arrived.notify_all();
}

void CHandScheduler::ArmRetryTimer(std::chrono::milliseconds period) {
    std::lock_guard lock(m_lock);
    m_arms.push_back(period);
    if (m_bEnded)
        return;
    m_retry = Later{m_now + period, {}};
    m_retryPeriod = period;
}

void CHandScheduler::KillRetryTimer() {
    std::lock_guard lock(m_lock);
    m_retry.reset();
}

std::optional<std::chrono::milliseconds> CHandScheduler::RetryTimerRemaining() const {
    std::lock_guard lock(m_lock);
    if (!m_retry)
        return std::nullopt;
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(m_retry->due - m_now));
}

bool CHandScheduler::CallLater(std::chrono::milliseconds delay, std::function<void()> fn) {
    std::lock_guard lock(m_lock);
    if (m_bEnded)
        return false;
    m_later.push_back({m_now + delay, std::move(fn)});
    return true;
}

void CHandScheduler::RunOnOwnThread(std::function<void()> fn) {
    if (std::this_thread::get_id() == m_owner) {
        fn();
        return;
    }
    {
        std::lock_guard lock(m_lock);
        m_handedOver.push_back(std::move(fn));
    }
    m_arrived.notify_all();
}

void CHandScheduler::Advance(std::chrono::milliseconds step) {
    std::lock_guard lock(m_lock);
    m_now += step;
}

std::size_t CHandScheduler::RunPending() {
    std::size_t ran = 0;
    for (;;) {
        std::function<void()> call;
        std::optional<unsigned> message;
        {
            std::lock_guard lock(m_lock);
            if (!m_handedOver.empty()) {
                call = std::move(m_handedOver.front());
                m_handedOver.pop_front();
            } else if (!m_messages.empty()) {
                message = m_messages.front();
                m_messages.pop_front();
            } else {
                auto due =
                    std::find_if(m_later.begin(), m_later.end(), [this](const Later& l) { return l.due <= m_now; });
                if (due == m_later.end())
                    return ran;
                call = std::move(due->fn);
                m_later.erase(due);
            }
        }
        ++ran;
        if (call)
            call();
        else if (m_controller != nullptr) {
            m_delivered.push_back(*message);
            m_controller->OnMessage(*message);
        }
    }
}

bool CHandScheduler::PumpUntil(const std::function<bool()>& cond) {
    constexpr auto kStep = std::chrono::milliseconds(5);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!cond()) {
        if (Clock::now() >= deadline)
            return false;
        if (RunPending() != 0)
            continue;
        std::unique_lock lock(m_lock);
        if (!m_arrived.wait_for(lock, kStep, [this] { return !m_messages.empty() || !m_handedOver.empty(); }))
            m_now += kStep; // the engine's spacing between client starts comes due as time goes by
    }
    return true;
}

bool CHandScheduler::FireRetryTimer() {
    {
        std::lock_guard lock(m_lock);
        if (!m_retry)
            return false;
        m_now = std::max(m_now, m_retry->due);
        m_retry->due = m_now + m_retryPeriod; // it repeats until killed
    }
    if (m_controller != nullptr)
        m_controller->OnTimer(kRetryTimerId);
    return true;
}

std::vector<std::chrono::milliseconds> CHandScheduler::Arms() const {
    std::lock_guard lock(m_lock);
    return m_arms;
}

int CHandScheduler::Delivered(unsigned message) const {
    return static_cast<int>(std::count(m_delivered.begin(), m_delivered.end(), message));
}

bool CHandScheduler::Ended() const {
    std::lock_guard lock(m_lock);
    return m_bEnded;
}

Timings ControlTimings() {
    using namespace std::chrono_literals;
    Timings t;
    t.hangCheck = 1h; // no test here is about hangs
    t.transmitPause = 20ms;
    t.runnerSpacing = 5ms;
    t.killPause = 5ms;
    t.firstRetry = 1min;
    t.retryInterval = 3min;
    return t;
}

namespace {

// Answers the client question with the scene's chosenClient; empty cancels.
class CSceneChooser final : public IClientChooser {
public:
    explicit CSceneChooser(ControlScene& scene) : m_scene(scene) {}
    std::string AskForClient(const std::string&) override {
        ++m_scene.choicesAsked;
        return m_scene.chosenClient;
    }
    void ShowMessage(const std::string& text, bool) override { m_scene.chooserMessages.push_back(text); }

private:
    ControlScene& m_scene;
};

} // namespace

ControlScene::ControlScene(std::vector<std::string> words, const ProgramDir* shared)
    : m_ownDir(shared == nullptr ? std::make_unique<ProgramDir>() : nullptr),
      program(shared == nullptr ? *m_ownDir : *shared), arguments(std::move(words)) {}

ControlScene::~ControlScene() {
    session.reset();
}

std::optional<int> ControlScene::Start() {
    std::function<IDialogView*(CProgramSession&)> makeView;
    if (withView)
        makeView = [this](CProgramSession& s) -> IDialogView* {
            ++viewsMade;
            view = std::make_unique<CFakeView>(s.Options());
            return view.get();
        };
    ProgramFrontEnd frontEnd(scheduler);
    frontEnd.executable = program.exe;
    frontEnd.argv0 = program.exe;
    frontEnd.arguments = arguments;
    frontEnd.channel = &channel;
    frontEnd.stopRequests = &stops;
    frontEnd.timings = ControlTimings();
    frontEnd.handOver = handOver;
    frontEnd.makeChooser = [this](const StartPlace&) {
        if (onChooserMade)
            onChooserMade();
        return std::make_unique<CSceneChooser>(*this);
    };
    frontEnd.reportStartFailure = [this](const std::string& why) { chooserMessages.push_back(why); };
    frontEnd.presentNotice = [this](const ProblemNotice& notice) { notices.push_back(notice); };
    frontEnd.makeView = std::move(makeView);
    session = std::make_unique<CProgramSession>(std::move(frontEnd));
    return session->Start();
}

bool ControlScene::PumpUntilPassesEnded(int count) {
    return PumpUntil([this, count] { return scheduler.Delivered(WM_APP_1) >= count; });
}

void ControlScene::WorkUnit(unsigned n, const std::string& knobs) const {
    program.MakeInstance(n, knobs);
    WriteFile(program.Instance(n) + "/work_unit.orv", "name=wu" + std::to_string(n) + "\n");
}

void ControlScene::Result(unsigned n) const {
    program.MakeInstance(n);
    WriteFile(program.Instance(n) + "/result.orv",
              "name=wu" + std::to_string(n) + "\nwu_number=" + std::to_string(n) + "\n");
}

void ControlScene::ServerSwitch(const std::string& name, bool on) const {
    const std::string server = program.dir / "orva-server";
    const std::string path = platform::JoinPath(server, name);
    if (on) {
        MakeDirs(server);
        WriteFile(path, "");
    } else {
        platform::DeleteFile(path);
    }
}

} // namespace vantrel::test
