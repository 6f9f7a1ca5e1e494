#include "ui/host/problemnotices.h"

#include <algorithm>
#include <cstdio>

namespace vantrel {

CProblemNotices::CProblemNotices(const COptions& options, const Timings& timings, Presenter presenter,
                                 CProblemNotifier::Clock clock, QObject* parent)
    : QObject(parent), m_notifier(options, timings, clock), m_presenter(std::move(presenter)),
      m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); }) {
    m_transferCheck.setSingleShot(true);
    connect(&m_transferCheck, &QTimer::timeout, this, [this] {
        Show(m_notifier.CheckTransfers());
        ArmTransferCheck();
    });
}

void CProblemNotices::OnEngineEvent(EEngineEvent event, std::uint32_t instance) {
    // Said at once and on any thread: a lost row must be heard of with notices off too.
    if (const std::string line = StandardErrorLine(event, instance); !line.empty())
        std::fprintf(stderr, "%s\n", line.c_str());
    QMetaObject::invokeMethod(
        this, [this, event, instance] { Handle(event, instance); }, Qt::QueuedConnection);
}

void CProblemNotices::Handle(EEngineEvent event, std::uint32_t instance) {
    Show(m_notifier.OnEvent(event, instance));
    if (event == EV_TRANSMIT_SUCCEEDED || event == EV_TRANSMIT_FAILED)
        ArmTransferCheck();
}

void CProblemNotices::Show(const std::optional<ProblemNotice>& notice) {
    if (notice && m_presenter)
        m_presenter(*notice);
}

void CProblemNotices::ArmTransferCheck() {
    std::optional<std::chrono::steady_clock::time_point> due = m_notifier.TransfersDueAt();
    if (!due) {
        m_transferCheck.stop();
        return;
    }
    // Once due, the check comes back after each failed transfer rather than on a timer, so a
    // notice that is not shown (notifications off, or one shown lately) is not asked for again
    // and again.
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*due - m_clock());
    if (wait.count() < 0) {
        m_transferCheck.stop();
        return;
    }
    // A QTimer counts in int milliseconds: a longer wait is taken in steps.
    m_transferCheck.start(std::min<std::chrono::milliseconds>(wait, std::chrono::hours(24)));
}

} // namespace vantrel
