#pragma once

#include "winui/win32.h"

#include "control/copychannel.h"
#include "control/scheduler.h"

#include <atomic>
#include <string>
#include <thread>

namespace vantrel {

// The other copies of this user on Windows. The registered message "Vantrel" reaches every copy's
// window (wParam 16 ends it); a second message, "Vantrel Hello", tells the copies of each other, so
// each can name its program directory. A named pipe per program directory, made from the
// directory's name, carries what needs an answer: a second start asking the copy there to show
// its window, and `vantrel --status`.
class CWinCopyChannel final : public ICopyChannel {
public:
    explicit CWinCopyChannel(IScheduler& scheduler);
    ~CWinCopyChannel() override;
    CWinCopyChannel(const CWinCopyChannel&) = delete;
    CWinCopyChannel& operator=(const CWinCopyChannel&) = delete;

    EHandOver AskToShow(const std::string& programDir) override;
    bool Serve(CProgramSession& session) override;
    void Greet(const std::string& programDir) override;
    void StopServing() override;
    std::string Where() const override { return m_strPipe; }

    // A message that reached the dialog's window: true when it was one of the channel's.
    bool OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // The number of the registered message "Vantrel".
    static UINT RegisteredMessage();
    // A name for programDir, the same for every spelling of it (the pipe's, the window place's).
    static std::string DirectoryKey(const std::string& programDir);
    // The pipe of the copy that works in programDir.
    static std::string PipeName(const std::string& programDir);
    // Sends request to the copy of programDir and returns its answer; empty when none came.
    static std::string Ask(const std::string& programDir, const std::string& request);

private:
    void ServePipe();
    std::string Answer(const std::string& request);

    IScheduler& m_scheduler;
    // Read by the pipe's thread; null once serving has stopped.
    std::atomic<CProgramSession*> m_pSession{nullptr};
    std::string m_strPipe;
    HANDLE m_hStop = nullptr;
    std::thread m_server;
};

} // namespace vantrel
