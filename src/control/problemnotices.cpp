#include "control/problemnotices.h"

#include <algorithm>
#include <cstdio>

namespace vantrel {

CProblemNotices::CProblemNotices(const COptions& options, const Timings& timings, Presenter presenter,
                                 IScheduler& scheduler, CProblemNotifier::Clock clock)
    : m_notifier(options, timings, clock), m_presenter(std::move(presenter)), m_scheduler(scheduler),
      m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); }),
      m_self(std::make_shared<CProblemNotices*>(this)) {}

CProblemNotices::~CProblemNotices() = default;

void CProblemNotices::OnEngineEvent(EEngineEvent event, std::uint32_t instance) {
    // Said at once and on any thread: a lost row must be heard of with notices off too.
    if (const std::string line = StandardErrorLine(event, instance); !line.empty())
        std::fprintf(stderr, "%s\n", line.c_str());
    m_scheduler.RunOnOwnThread([self = std::weak_ptr(m_self), event, instance] {
        if (auto alive = self.lock())
            (*alive)->Handle(event, instance);
    });
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
    const std::uint64_t check = ++m_nTransferCheck;
    std::optional<std::chrono::steady_clock::time_point> due = m_notifier.TransfersDueAt();
    if (!due)
        return;
    // Once due, the check comes back after each failed transfer rather than on a timer, so a
    // notice that is not shown (notifications off, or one shown lately) is not asked for again
    // and again.
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*due - m_clock());
    if (wait.count() < 0)
        return;
    // A longer wait is taken in steps, as timers count in int milliseconds.
    m_scheduler.CallLater(std::min<std::chrono::milliseconds>(wait, std::chrono::hours(24)),
                          [self = std::weak_ptr(m_self), check] {
                              auto alive = self.lock();
                              if (!alive || (*alive)->m_nTransferCheck != check)
                                  return;
                              (*alive)->Show((*alive)->m_notifier.CheckTransfers());
                              (*alive)->ArmTransferCheck();
                          });
}

} // namespace vantrel
