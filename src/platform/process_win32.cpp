#include "platform/process_detail_win32.h"

#include "platform/process.h"
#include "platform/wait.h"

#include <thread>
#include <utility>

// A process is held by its handle (m_pidfd), which keeps its id from passing to another process;
// the job it runs in (m_job) ends the whole tree, as the cgroup and the session do on Linux.
namespace vantrel::platform {

namespace {

HANDLE AsHandle(int value) {
    return detail::IntToHandle(value);
}

void CloseIfOpen(int value) {
    if (value >= 0)
        ::CloseHandle(AsHandle(value));
}

bool HasEnded(int process) {
    return WaitForAny({WaitHandle{process}}, std::chrono::milliseconds(0)) != kWaitTimeout;
}

// A client of ours still running when its handle goes: a detached thread waits for its end and
// then ends what it left in its job. Closing a handle never ends the process.
void EndJobInBackground(int process, int job) noexcept {
    try {
        std::thread([process, job] {
            ::WaitForSingleObject(AsHandle(process), INFINITE);
            ::TerminateJobObject(AsHandle(job), 1);
            CloseIfOpen(process);
            CloseIfOpen(job);
        }).detach();
    } catch (const std::exception&) {
        CloseIfOpen(process);
        CloseIfOpen(job);
    }
}

} // namespace

ProcessHandle::~ProcessHandle() {
    if (m_pidfd < 0) {
        CloseIfOpen(m_job);
        return;
    }
    ReapIfEnded();
    if (m_bLeader && !m_bSessionEnded && m_job >= 0) {
        EndJobInBackground(m_pidfd, m_job);
        return;
    }
    CloseIfOpen(m_pidfd);
    CloseIfOpen(m_job);
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : m_pidfd(std::exchange(other.m_pidfd, -1)), m_pid(std::exchange(other.m_pid, 0)),
      m_ownChild(std::exchange(other.m_ownChild, false)), m_reaped(std::exchange(other.m_reaped, false)),
      m_bLeader(std::exchange(other.m_bLeader, false)), m_bSessionEnded(std::exchange(other.m_bSessionEnded, false)),
      m_strGroup(std::move(other.m_strGroup)), m_terminal(std::move(other.m_terminal)),
      m_job(std::exchange(other.m_job, -1)) {}

ProcessHandle ProcessHandle::Adopt(WaitHandle process, ProcessId pid, bool ownChild, bool leader) {
    ProcessHandle handle;
    handle.m_pidfd = process.native < 0 ? -1 : static_cast<int>(process.native);
    handle.m_pid = pid;
    handle.m_ownChild = ownChild;
    handle.m_bLeader = leader;
    return handle;
}

ProcessId ProcessHandle::WindowPid() const {
    return m_pid;
}

void ProcessHandle::EndSession() {
    if (!m_bLeader || m_bSessionEnded)
        return;
    m_bSessionEnded = true;
    if (m_job >= 0)
        ::TerminateJobObject(AsHandle(m_job), 1);
}

void ProcessHandle::ReapIfEnded() {
    // Windows has nothing to reap; what a client left in its job goes once the client has ended.
    if (m_pidfd < 0 || m_reaped || !HasEnded(m_pidfd))
        return;
    EndSession();
    m_reaped = true;
}

bool ProcessHandle::WaitForExit(std::optional<std::chrono::milliseconds> timeout) {
    if (m_pidfd < 0)
        return false;
    if (m_reaped)
        return true;
    if (WaitForAny({ExitHandle()}, timeout) != 0)
        return false;
    ReapIfEnded();
    return true;
}

bool ProcessHandle::Terminate() {
    if (m_pidfd < 0)
        return false;
    if (HasEnded(m_pidfd)) {
        ReapIfEnded();
        return false;
    }
    bool sent = ::TerminateProcess(AsHandle(m_pidfd), 1) != 0;
    // Whatever it started goes too, also for a process found in a job.
    m_bLeader = true;
    EndSession();
    ::WaitForSingleObject(AsHandle(m_pidfd), 5000);
    ReapIfEnded();
    return sent;
}

bool ProcessHandle::IsAlive() const {
    return m_pidfd >= 0 && !HasEnded(m_pidfd);
}

} // namespace vantrel::platform
