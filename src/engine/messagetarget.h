#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace vantrel {

// Messages the worker threads post to the main dialog; both parameters are always 0.
inline constexpr unsigned WM_APP = 0x8000;     // a client ended, or a transmit began or sent one
inline constexpr unsigned WM_APP_1 = 0x8001;   // a transmit pass ended
inline constexpr unsigned WM_APP_3 = 0x8003;   // the tray icon's own notification
inline constexpr unsigned WM_APP_4 = 0x8004;   // the watched directory changed
inline constexpr unsigned kRetryTimerId = 32773; // the transmit retry timer (0x8005)

// Where worker threads report to: the dialog's window handle. Post never blocks and never fails
// loudly; a message to a target that is gone is dropped.
class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    virtual void Post(unsigned message) = 0;
};

// A plain thread-safe queue standing in for the dialog in tests and tools: the test drains it on
// its own thread.
class CMessageQueue : public IMessageTarget {
public:
    void Post(unsigned message) override {
        {
            std::lock_guard lock(m_mutex);
            m_messages.push_back(message);
        }
        m_changed.notify_all();
    }

    // The oldest message, waiting up to timeout for one; none when nothing came.
    std::optional<unsigned> Take(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [this] { return !m_messages.empty(); }))
            return std::nullopt;
        unsigned message = m_messages.front();
        m_messages.pop_front();
        return message;
    }

    std::size_t Pending() const {
        std::lock_guard lock(m_mutex);
        return m_messages.size();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<unsigned> m_messages;
};

} // namespace vantrel
