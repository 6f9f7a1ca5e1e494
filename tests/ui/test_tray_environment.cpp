// The one QApplication of the ui_tests executable, made before the first test and destroyed
// after the last: widgets, icons and the tray need it, and Qt allows only one. A test's waits
// handle the events of this thread, which is where the dialog and the channels get their news.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>

#include "support/wait.h"

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (QCoreApplication::instance() == nullptr)
            m_app = std::make_unique<QApplication>(m_argc, m_argv);
        // One pass over the events after the sleep, as QTest::qWaitFor does: a wait looks again
        // after every pass, so a state that the next pass would end is not missed.
        vantrel::test::SetWaitPause([](std::chrono::milliseconds step) {
            QTest::qSleep(static_cast<int>(step.count()));
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        });
    }
    void TearDown() override {
        vantrel::test::SetWaitPause({});
        m_app.reset();
    }

private:
    int m_argc = 1;
    char m_name[9] = "ui_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace
