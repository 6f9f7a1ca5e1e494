#pragma once

#include "engine/transmitter.h"
#include "engine_fixture.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::test::transmit {

using namespace std::chrono_literals;

// The dialog's side of a pass, recording every call in order.
class CTestTransmitHost : public ITransmitHost {
public:
    void TransmitStateChanged(bool running) override { Record(running ? "running" : "idle"); }
    void ArmRetryTimer(std::chrono::milliseconds period) override {
        std::lock_guard lock(m_mutex);
        m_events.emplace_back("arm");
        m_period = period;
    }
    void KillRetryTimer() override { Record("kill"); }

    std::vector<std::string> Events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::chrono::milliseconds Period() const {
        std::lock_guard lock(m_mutex);
        return m_period;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_events.clear();
    }

private:
    void Record(const char* event) {
        std::lock_guard lock(m_mutex);
        m_events.emplace_back(event);
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
    std::chrono::milliseconds m_period{0};
};

// One line of the simulated client's runs.log.
struct SimRun {
    long pid = 0;
    std::string run;   // "transmit" or "process"
    std::string dir;   // its current directory
    std::string title; // its console title
    std::string show;  // its show command, in decimal
    std::string args;  // the words after the program name, blanks inside a word written "\s"
};

inline Timings TransmitTimings() {
    Timings t = ShortTimings();
    t.transmitPause = 50ms;
    t.retryInterval = 1h; // the tests fire the timer themselves through OnTimer
    return t;
}

// The engine fixture with the simulated client as the program's client, its server in a
// directory of its own, and a transmitter reporting to the queue and a recording host.
class TransmitTest : public EngineTest {
protected:
    TransmitTest();
    ~TransmitTest() override { transmitter.reset(); }

    bool Exists(unsigned n, const std::string& name) const;
    void MakeEmpty(unsigned n) { MakeInstance(n); }
    void MakeResult(unsigned n);
    void MakeUserInfo(unsigned n, int count);
    // Per-instance knobs of the simulated client ("KEY=value" lines).
    void SetKnobs(unsigned n, const std::string& lines) { WriteFile(InstFile(n, "orva_sim_knobs.txt"), lines); }
    void Mark(unsigned n) { store.SetStopAfterSend(n, true); }
    // A sent instance holding a result again.
    void RefillWithResult(unsigned n);

    // Runs one pass started by the user and returns the messages it posted, up to its WM_APP_1.
    std::vector<unsigned> RunUserPass() {
        transmitter->TransmitToggle();
        return WaitForPassEnd();
    }
    std::vector<unsigned> WaitForPassEnd(std::chrono::seconds limit = 60s);

    std::vector<SimRun> Runs() const;
    std::vector<std::string> RunDirs() const;
    // Waits until runs.log holds at least count runs.
    bool WaitForRuns(std::size_t count) const;

    TempDir server;
    CTestTransmitHost host;
    std::unique_ptr<CTransmitter> transmitter;
};

std::size_t CountOf(const std::vector<unsigned>& messages, unsigned message);

} // namespace vantrel::test::transmit
