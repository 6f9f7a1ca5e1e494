#include "winui/win32.h"
#include "winui/wincopychannel.h"

#include "control/programsession.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <future>

namespace vantrel {

namespace {

constexpr const char* kHelloMessage = "Vantrel Hello";
// lParam of the hello: a copy that has just started, or one that answers it.
constexpr LPARAM kHelloStarted = 0;
constexpr LPARAM kHelloAnswer = 1;
constexpr DWORD kPipeWaitMs = 500;
constexpr DWORD kAnswerWaitMs = 2000;
constexpr DWORD kMaxRequest = 64;

UINT HelloMessage() {
    static const UINT message = ::RegisterWindowMessageA(kHelloMessage);
    return message;
}

// Runs fn on the scheduler's thread and waits a moment for its result; fallback when none came.
template <class T, class F> T OnOwnThread(IScheduler& scheduler, F fn, T fallback) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> result = promise->get_future();
    scheduler.RunOnOwnThread([promise, fn] { promise->set_value(fn()); });
    if (result.wait_for(std::chrono::milliseconds(kAnswerWaitMs)) != std::future_status::ready)
        return fallback;
    return result.get();
}

} // namespace

CWinCopyChannel::CWinCopyChannel(IScheduler& scheduler) : m_scheduler(scheduler) {}

CWinCopyChannel::~CWinCopyChannel() {
    StopServing();
}

// A 64-bit FNV-1a hash of the directory's full name in lower case, so every spelling of one
// directory names one pipe.
std::string CWinCopyChannel::DirectoryKey(const std::string& programDir) {
    std::string full(MAX_PATH, '\0');
    DWORD length = ::GetFullPathNameA(programDir.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = ::GetFullPathNameA(programDir.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    full.resize(length < full.size() ? length : 0);
    if (full.empty())
        full = programDir;
    while (full.size() > 3 && (full.back() == '\\' || full.back() == '/'))
        full.pop_back();
    std::uint64_t hash = 1469598103934665603ull;
    for (char c : full) {
        hash ^= static_cast<unsigned char>(c == '/' ? '\\' : std::tolower(static_cast<unsigned char>(c)));
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

UINT CWinCopyChannel::RegisteredMessage() {
    static const UINT message = ::RegisterWindowMessageA("Vantrel");
    return message;
}

std::string CWinCopyChannel::PipeName(const std::string& programDir) {
    return "\\\\.\\pipe\\Vantrel-" + DirectoryKey(programDir);
}

std::string CWinCopyChannel::Ask(const std::string& programDir, const std::string& request) {
    const std::string pipe = PipeName(programDir);
    if (!::WaitNamedPipeA(pipe.c_str(), kPipeWaitMs))
        return {};
    HANDLE handle = ::CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    DWORD mode = PIPE_READMODE_BYTE;
    ::SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
    const std::string line = request + "\n";
    DWORD written = 0;
    std::string answer;
    if (::WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        char buffer[4096];
        DWORD read = 0;
        while (::ReadFile(handle, buffer, sizeof buffer, &read, nullptr) && read > 0)
            answer.append(buffer, read);
    }
    ::CloseHandle(handle);
    return answer;
}

ICopyChannel::EHandOver CWinCopyChannel::AskToShow(const std::string& programDir) {
    const std::string answer = Ask(programDir, "show");
    if (answer.starts_with("done"))
        return EHandOver::Shown;
    if (answer.starts_with("refused"))
        return EHandOver::NoWindow;
    return EHandOver::NoAnswer;
}

bool CWinCopyChannel::Serve(CProgramSession& session) {
    m_pSession.store(&session);
    m_strPipe = PipeName(session.ProgramDir());
    m_hStop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_hStop == nullptr)
        return false;
    m_server = std::thread([this] { ServePipe(); });
    return true;
}

void CWinCopyChannel::ServePipe() {
    HANDLE connected = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        HANDLE pipe = ::CreateNamedPipeA(m_strPipe.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE)
            break;
        OVERLAPPED overlapped{};
        overlapped.hEvent = connected;
        ::ResetEvent(connected);
        bool ready = ::ConnectNamedPipe(pipe, &overlapped) != 0 || ::GetLastError() == ERROR_PIPE_CONNECTED;
        if (!ready && ::GetLastError() == ERROR_IO_PENDING) {
            HANDLE waits[] = {m_hStop, connected};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                ::CancelIo(pipe);
                ::CloseHandle(pipe);
                break;
            }
            DWORD unused = 0;
            ready = ::GetOverlappedResult(pipe, &overlapped, &unused, FALSE) != 0;
        }
        if (ready) {
            std::string request;
            char c = 0;
            DWORD read = 0;
            OVERLAPPED readOverlapped{};
            readOverlapped.hEvent = connected;
            // One short line; a client that sends none is dropped after a moment.
            while (request.size() < kMaxRequest) {
                ::ResetEvent(connected);
                if (!::ReadFile(pipe, &c, 1, &read, &readOverlapped)) {
                    if (::GetLastError() != ERROR_IO_PENDING ||
                        ::WaitForSingleObject(connected, kAnswerWaitMs) != WAIT_OBJECT_0 ||
                        !::GetOverlappedResult(pipe, &readOverlapped, &read, FALSE)) {
                        ::CancelIo(pipe);
                        break;
                    }
                }
                if (read != 1 || c == '\n')
                    break;
                request += c;
            }
            const std::string answer = Answer(request);
            DWORD written = 0;
            OVERLAPPED writeOverlapped{};
            writeOverlapped.hEvent = connected;
            ::ResetEvent(connected);
            if (!::WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &written, &writeOverlapped) &&
                ::GetLastError() == ERROR_IO_PENDING)
                ::WaitForSingleObject(connected, kAnswerWaitMs);
            ::FlushFileBuffers(pipe);
            ::DisconnectNamedPipe(pipe);
        }
        ::CloseHandle(pipe);
        if (::WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0)
            break;
    }
    ::CloseHandle(connected);
}

std::string CWinCopyChannel::Answer(const std::string& request) {
    // The session is looked up again on its own thread: serving may have stopped meanwhile.
    if (request == "show") {
        const bool shown = OnOwnThread<bool>(
            m_scheduler,
            [this] {
                CProgramSession* session = m_pSession.load();
                return session != nullptr && session->ShowWindow();
            },
            false);
        return shown ? "done\n" : "refused\n";
    }
    if (request == "status") {
        const std::string report = OnOwnThread<std::string>(
            m_scheduler,
            [this] {
                CProgramSession* session = m_pSession.load();
                return session != nullptr ? session->EncodedStatus() : std::string();
            },
            std::string());
        return report.empty() ? std::string() : "done\n" + report;
    }
    return {};
}

void CWinCopyChannel::Greet(const std::string&) {
    ::PostMessageA(HWND_BROADCAST, HelloMessage(), ::GetCurrentProcessId(), kHelloStarted);
}

bool CWinCopyChannel::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    CProgramSession* session = m_pSession.load();
    if (session == nullptr)
        return false;
    if (message == RegisteredMessage()) {
        session->OnRegisteredMessage(static_cast<unsigned>(wParam));
        return true;
    }
    if (message != HelloMessage())
        return false;
    // Two copies never share a program directory, so any other copy works in another one.
    if (static_cast<DWORD>(wParam) != ::GetCurrentProcessId()) {
        session->OtherCopyStarted();
        if (lParam == kHelloStarted)
            ::PostMessageA(HWND_BROADCAST, HelloMessage(), ::GetCurrentProcessId(), kHelloAnswer);
    }
    return true;
}

void CWinCopyChannel::StopServing() {
    m_pSession.store(nullptr);
    if (m_hStop != nullptr)
        ::SetEvent(m_hStop);
    if (m_server.joinable())
        m_server.join();
    if (m_hStop != nullptr) {
        ::CloseHandle(m_hStop);
        m_hStop = nullptr;
    }
}

} // namespace vantrel
