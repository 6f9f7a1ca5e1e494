#pragma once

#include "control/problemnotifier.h"

#include <QObject>
#include <QTimer>
#include <functional>

namespace vantrel {

// The engine's events, from any thread, as desktop notifications on the dialog's thread: through
// the tray icon's message (which reaches the desktop's notification service), at most one of a
// kind per repeat period, only while "Notify me of problems" is on. What must be heard of even
// then (a lost log row) also goes to standard error.
class CProblemNotices final : public QObject, public IEngineEvents {
public:
    using Presenter = std::function<void(const ProblemNotice&)>;

    // presenter shows a notice (the tray's message for the real program).
    CProblemNotices(const COptions& options, const Timings& timings, Presenter presenter,
                    CProblemNotifier::Clock clock = {}, QObject* parent = nullptr);

    // Any thread: handed on to the dialog's thread.
    void OnEngineEvent(EEngineEvent event, std::uint32_t instance) override;

private:
    void Handle(EEngineEvent event, std::uint32_t instance);
    void Show(const std::optional<ProblemNotice>& notice);
    // Wakes up when failing transfers will have failed long enough.
    void ArmTransferCheck();

    CProblemNotifier m_notifier;
    Presenter m_presenter;
    CProblemNotifier::Clock m_clock;
    QTimer m_transferCheck;
};

} // namespace vantrel
