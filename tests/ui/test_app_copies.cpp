// Other copies as a start meets them: one that is slow to answer, or stopped, never holds up a
// copy whose program directory is its own.
#include "test_dialog_support.h"

#include "ui/vantrelapp.h"

#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vantrel {
namespace {

using test::CPresetPrompts;
using test::ProgramDir;
using test::WaitUntil;

// A copy in another program directory that takes one request and answers "done" only when told,
// as a copy busy in a long handler (or stopped with SIGSTOP) would.
class CSilentCopy {
public:
    CSilentCopy(const std::string& channelDir, std::string programDir) : m_strProgramDir(std::move(programDir)) {
        ::mkdir(channelDir.c_str(), 0700);
        const std::string path = channelDir + "/" + std::to_string(::getpid()) + "-77";
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        m_bListening = ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::listen(m_listener, 4) == 0;
        if (m_bListening)
            m_thread = std::thread([this] { Serve(); });
    }

    ~CSilentCopy() {
        Release();
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }

    bool IsListening() const { return m_bListening; }
    // The request line received so far; empty until one came.
    std::string Request() const {
        std::lock_guard lock(m_mutex);
        return m_strRequest;
    }
    // The asking copy gave up (hung up) before the answer was released.
    bool AskerGaveUp() const { return m_bGaveUp.load(); }
    void Release() {
        {
            std::lock_guard lock(m_mutex);
            m_bReleased = true;
        }
        m_released.notify_all();
    }

private:
    void Serve() {
        const int peer = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0)
            return;
        std::string line;
        char c = 0;
        while (line.find('\n') == std::string::npos && ::read(peer, &c, 1) == 1)
            line += c;
        {
            std::lock_guard lock(m_mutex);
            m_strRequest = line;
        }
        // Watch the connection while the answer is held back: an asker that hangs up gave up.
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (m_released.wait_for(lock, std::chrono::milliseconds(20), [this] { return m_bReleased; }))
                    break;
            }
            pollfd watched{peer, POLLIN, 0};
            if (::poll(&watched, 1, 0) > 0 && ::recv(peer, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) {
                m_bGaveUp = true;
                break;
            }
        }
        const std::string answer = "done " + m_strProgramDir + "\n";
        [[maybe_unused]] ssize_t written = ::write(peer, answer.data(), answer.size());
        ::close(peer);
    }

    std::string m_strProgramDir;
    int m_listener = -1;
    bool m_bListening = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::string m_strRequest;
    bool m_bReleased = false;
    std::atomic<bool> m_bGaveUp{false};
    std::thread m_thread;
};

TEST(AppCopies, ACopySlowToAnswerTheHelloNeitherHoldsUpTheStartNorGoesUnheard) {
    ProgramDir program;
    test::TempDir runtime;
    test::TempDir otherProgramDir;
    const std::string channelDir = runtime / "vantrel";
    CSilentCopy silent(channelDir, otherProgramDir.Path());
    ASSERT_TRUE(silent.IsListening());

    CPresetPrompts prompts;
    AppEnvironment env;
    env.executablePath = program.exe;
    env.channelDirectory = channelDir;
    env.arguments = std::vector<std::string>{};
    env.prompts = &prompts;
    env.trayProbe = [] { return false; };
    env.timings = Timings{}.Scaled(0.01);
    bool startedWhileUnanswered = false;
    bool named = false;
    bool hung = false;
    env.onStarted = [&](CVantrelApp& app) {
        // The window is up while the other copy still sits on the hello.
        startedWhileUnanswered = !silent.AskerGaveUp() && app.Dialog() != nullptr;
        silent.Release();
        auto* poll = new QTimer(app.Dialog());
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            // Its late answer still names the two directories apart in the title.
            if (!app.Dialog()->windowTitle().contains(QStringLiteral(" - ")))
                return;
            named = true;
            poll->stop();
            app.EndFromOutside();
        });
        poll->start(20);
        QTimer::singleShot(20000, app.Dialog(), [&hung] {
            hung = true;
            QCoreApplication::exit(0);
        });
    };
    int argc = 1;
    char name[] = "vantrel";
    char* argv[] = {name, nullptr};
    {
        CVantrelApp app(argc, argv, std::move(env));
        EXPECT_EQ(app.Run(), 0);
    }
    EXPECT_TRUE(silent.Request().starts_with("hello ")) << silent.Request();
    EXPECT_TRUE(startedWhileUnanswered);
    EXPECT_TRUE(named);
    EXPECT_FALSE(hung);
}

} // namespace
} // namespace vantrel
