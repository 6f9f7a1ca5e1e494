#include "control/problemnotifier.h"

namespace vantrel {

namespace {

std::string Hours(unsigned hours) {
    return std::to_string(hours) + (hours == 1 ? " hour" : " hours");
}

std::string RowLostText(std::uint32_t instance) {
    return "ORVALog.csv could not be written for as long as a result may wait, so the result of instance " +
           std::to_string(instance) + " was sent without its row: the row is lost.";
}

} // namespace

std::string StandardErrorLine(EEngineEvent event, std::uint32_t instance) {
    if (event == EV_LOG_ROW_LOST)
        return "Vantrel: " + RowLostText(instance);
    return {};
}

CProblemNotifier::CProblemNotifier(const COptions& options, const Timings& timings, Clock clock)
    : m_options(options), m_timings(timings),
      m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); }) {}

std::optional<ProblemNotice> CProblemNotifier::OnEvent(EEngineEvent event, std::uint32_t instance) {
    switch (event) {
    case EV_TRANSMIT_SUCCEEDED:
        m_failingSince.reset();
        return std::nullopt;
    case EV_TRANSMIT_FAILED:
        if (!m_failingSince)
            m_failingSince = m_clock();
        return CheckTransfers();
    case EV_CLIENT_RAN:
        m_nQuickEnds = 0;
        return std::nullopt;
    case EV_CLIENT_ENDED_AT_ONCE:
        if (++m_nQuickEnds < kQuickEndsToNotify)
            return std::nullopt;
        return Offer(EProblem::ClientEndsAtOnce,
                     "The ORVA client keeps ending at once: " + std::to_string(m_nQuickEnds) +
                         " runs in a row did no work (the last in instance " + std::to_string(instance) +
                         "). Check the client, or choose another with \"New Client\".");
    case EV_LOG_WRITE_FAILED:
        return Offer(EProblem::WriteFailed, "A result could not be written to ORVALog.csv (instance " +
                                                std::to_string(instance) +
                                                "). Check the free disk space and the rights on the folder.");
    case EV_CONFIG_WRITE_FAILED:
        return Offer(EProblem::WriteFailed, "The configuration could not be saved. Check the free disk space and "
                                            "the rights on the program's folder.");
    case EV_LOG_ROW_LOST:
        return Offer(EProblem::LogRowLost, RowLostText(instance));
    case EV_INSTANCE_RESTARTED:
        return Offer(EProblem::InstanceRestarted,
                     "The download in instance " + std::to_string(instance) +
                         " kept breaking off, so the instance was started afresh.");
    }
    return std::nullopt;
}

std::optional<std::chrono::steady_clock::time_point> CProblemNotifier::TransfersDueAt() const {
    if (!m_failingSince)
        return std::nullopt;
    return *m_failingSince + m_timings.Scale(std::chrono::hours(m_options.NotifyAfterHours));
}

std::optional<ProblemNotice> CProblemNotifier::CheckTransfers() {
    std::optional<std::chrono::steady_clock::time_point> due = TransfersDueAt();
    if (!due || m_clock() < *due)
        return std::nullopt;
    return Offer(EProblem::TransfersFailing, "Transfers have failed for more than " + Hours(m_options.NotifyAfterHours) +
                                                 ": results are waiting to be sent. Check the network and the "
                                                 "proxy or socks settings.");
}

std::optional<ProblemNotice> CProblemNotifier::Offer(EProblem kind, std::string text) {
    if (!m_options.NotifyProblems.load())
        return std::nullopt;
    const auto now = m_clock();
    std::optional<std::chrono::steady_clock::time_point>& last = m_lastShown[static_cast<std::size_t>(kind)];
    if (last && now - *last < m_timings.noticeRepeat)
        return std::nullopt;
    last = now;
    return ProblemNotice{kind, "Vantrel", std::move(text)};
}

} // namespace vantrel
