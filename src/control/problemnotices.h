#pragma once

#include "control/problemnotifier.h"
#include "control/scheduler.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace vantrel {

// The engine's events, from any thread, as notices on the front end's thread (the desktop's
// notification service, or stderr without a window), at most one of a kind per repeat period,
// only while "Notify me of problems" is on. What must be heard of even then (a lost log row) also
// goes to standard error.
class CProblemNotices final : public IEngineEvents {
public:
    using Presenter = std::function<void(const ProblemNotice&)>;

    // presenter shows a notice (the tray's message for the desktop program).
    CProblemNotices(const COptions& options, const Timings& timings, Presenter presenter, IScheduler& scheduler,
                    CProblemNotifier::Clock clock = {});
    ~CProblemNotices() override;
    CProblemNotices(const CProblemNotices&) = delete;
    CProblemNotices& operator=(const CProblemNotices&) = delete;

    // Any thread: handed on to the front end's thread.
    void OnEngineEvent(EEngineEvent event, std::uint32_t instance) override;

private:
    void Handle(EEngineEvent event, std::uint32_t instance);
    void Show(const std::optional<ProblemNotice>& notice);
    // Wakes up when failing transfers will have failed long enough.
    void ArmTransferCheck();

    CProblemNotifier m_notifier;
    Presenter m_presenter;
    IScheduler& m_scheduler;
    CProblemNotifier::Clock m_clock;
    // Calls handed to the scheduler see whether the notices still exist.
    std::shared_ptr<CProblemNotices*> m_self;
    // Only the latest transfer check counts; an earlier one that fires finds itself outdated.
    std::uint64_t m_nTransferCheck = 0;
};

} // namespace vantrel
