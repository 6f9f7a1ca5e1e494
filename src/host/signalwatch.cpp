#include "host/signalwatch.h"

#include <QMetaObject>

namespace vantrel {

CSignalWatch::CSignalWatch(std::function<void()> onSignal)
    : m_onSignal(std::move(onSignal)), m_receiver(std::make_unique<QObject>()) {
    m_watch = std::make_unique<platform::CTerminationWatch>([receiver = m_receiver.get(), this] {
        QMetaObject::invokeMethod(receiver, [this] { m_onSignal(); }, Qt::QueuedConnection);
    });
}

// The platform watch joins its thread before the receiver goes, which drops any call still posted.
CSignalWatch::~CSignalWatch() {
    m_watch.reset();
}

} // namespace vantrel
