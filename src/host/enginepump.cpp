#include "host/enginepump.h"

#include "control/vantrelcontroller.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <algorithm>
#include <utility>

namespace vantrel {

namespace {

// An engine message travelling from a worker thread to the dialog's thread.
class CEngineMessageEvent final : public QEvent {
public:
    explicit CEngineMessageEvent(unsigned message) : QEvent(EventType()), m_nMessage(message) {}
    unsigned Message() const { return m_nMessage; }

    static QEvent::Type EventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

private:
    unsigned m_nMessage;
};

} // namespace

CEnginePump::CEnginePump(QObject* parent) : QObject(parent) {
    connect(&m_retryTimer, &QTimer::timeout, this, [this] {
        if (m_controller != nullptr)
            m_controller->OnTimer(kRetryTimerId);
    });
}

void CEnginePump::End() {
    m_bEnded = true;
    m_retryTimer.stop();
    if (m_endLoop)
        m_endLoop();
}

std::optional<std::chrono::milliseconds> CEnginePump::RetryTimerRemaining() const {
    if (!m_retryTimer.isActive())
        return std::nullopt;
    return std::chrono::milliseconds(std::max(0, m_retryTimer.remainingTime()));
}

void CEnginePump::Post(unsigned message) {
    QCoreApplication::postEvent(this, new CEngineMessageEvent(message));
}

bool CEnginePump::event(QEvent* event) {
    if (event->type() == CEngineMessageEvent::EventType()) {
        if (m_controller != nullptr)
            m_controller->OnMessage(static_cast<CEngineMessageEvent*>(event)->Message());
        return true;
    }
    return QObject::event(event);
}

void CEnginePump::RunOnOwnThread(std::function<void()> fn) {
    if (QThread::currentThread() == thread())
        fn();
    else
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void CEnginePump::ArmRetryTimer(std::chrono::milliseconds period) {
    const std::uint64_t ticket = ++m_nTimerRequests;
    RunOnOwnThread([this, period, ticket] {
        if (m_nLastKillRequest.load() < ticket && !m_bEnded)
            m_retryTimer.start(period);
    });
}

void CEnginePump::KillRetryTimer() {
    const std::uint64_t ticket = ++m_nTimerRequests;
    std::uint64_t last = m_nLastKillRequest.load();
    while (last < ticket && !m_nLastKillRequest.compare_exchange_weak(last, ticket)) {
    }
    RunOnOwnThread([this] { m_retryTimer.stop(); });
}

bool CEnginePump::CallLater(std::chrono::milliseconds delay, std::function<void()> fn) {
    if (m_bEnded)
        return false;
    QTimer::singleShot(delay, this, [this, fn = std::move(fn)] {
        if (!m_bEnded)
            fn();
    });
    return true;
}

} // namespace vantrel
