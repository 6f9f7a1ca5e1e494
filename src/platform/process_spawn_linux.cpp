#include "platform/process_detail_linux.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <system_error>
#include <thread>

extern char** environ;

namespace vantrel::platform::detail {

std::vector<char*> PointersTo(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const auto& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

namespace {

// A posix_spawn attribute object, destroyed when it goes.
template <typename T, int (*Init)(T*), int (*Destroy)(T*)> class SpawnObject {
public:
    SpawnObject() { m_ok = Init(&m_object) == 0; }
    ~SpawnObject() {
        if (m_ok)
            Destroy(&m_object);
    }
    SpawnObject(const SpawnObject&) = delete;
    SpawnObject& operator=(const SpawnObject&) = delete;
    bool Ok() const { return m_ok; }
    T* Get() { return &m_object; }

private:
    T m_object;
    bool m_ok = false;
};

using SpawnFileActions =
    SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init, posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

int PrepareFileActions(SpawnFileActions& actions, const SpawnRequest& request) {
    posix_spawn_file_actions_t* fa = actions.Get();
    // The output descriptor goes first: if it is 0 or 2 itself, the /dev/null opens below would
    // close it before it was copied.
    int rc = request.standardOutput >= 0 ? posix_spawn_file_actions_adddup2(fa, request.standardOutput, 1)
                                         : posix_spawn_file_actions_addopen(fa, 1, "/dev/null", O_WRONLY, 0);
    if (rc == 0)
        rc = posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0)
        rc = posix_spawn_file_actions_addopen(fa, 2, "/dev/null", O_WRONLY, 0);
    if (rc == 0 && !request.workingDirectory.empty())
        rc = posix_spawn_file_actions_addchdir_np(fa, request.workingDirectory.c_str());
    if (rc == 0)
        rc = posix_spawn_file_actions_addclosefrom_np(fa, 3);
    return rc;
}

int PrepareAttributes(SpawnAttributes& attributes, bool newSession) {
    sigset_t noSignals;
    sigset_t allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    // Their disposition cannot change; asking only draws EINVAL.
    sigdelset(&allSignals, SIGKILL);
    sigdelset(&allSignals, SIGSTOP);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession)
        flags |= POSIX_SPAWN_SETSID;
    int rc = posix_spawnattr_setflags(attributes.Get(), flags);
    if (rc == 0)
        rc = posix_spawnattr_setsigmask(attributes.Get(), &noSignals);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(attributes.Get(), &allSignals);
    return rc;
}

int SpawnHere(const SpawnRequest& request, pid_t& pid);

// A thread at the program's own priority that starts children for threads that have lowered
// theirs. Made by the first thread to lower itself, before it does, so it keeps the priority.
class CLauncher {
public:
    CLauncher() : m_thread([this] { Run(); }) {}
    ~CLauncher() {
        {
            std::lock_guard lock(m_lock);
            m_bStop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    CLauncher(const CLauncher&) = delete;
    CLauncher& operator=(const CLauncher&) = delete;

    int Spawn(const SpawnRequest& request, pid_t& pid) {
        Job job{&request};
        std::unique_lock lock(m_lock);
        if (m_bStop)
            return ECANCELED;
        m_jobs.push_back(&job);
        m_wake.notify_all();
        m_wake.wait(lock, [&job] { return job.done; });
        pid = job.pid;
        return job.result;
    }

private:
    struct Job {
        const SpawnRequest* request;
        pid_t pid = -1;
        int result = 0;
        bool done = false;
    };

    void Run() {
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] { return m_bStop || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            Job* job = m_jobs.front();
            m_jobs.pop_front();
            lock.unlock();
            int result = SpawnHere(*job->request, job->pid);
            lock.lock();
            job->result = result;
            job->done = true;
            m_wake.notify_all();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job*> m_jobs;
    bool m_bStop = false;
    std::thread m_thread; // last: it starts once the rest is ready
};

thread_local bool t_bLowered = false;

CLauncher* Launcher() {
    // Made on first use, by a thread that has not lowered itself yet (MarkThreadLowered).
    static CLauncher* launcher = [] {
        try {
            static CLauncher instance;
            return &instance;
        } catch (const std::system_error&) {
            return static_cast<CLauncher*>(nullptr);
        }
    }();
    return launcher;
}

} // namespace

void MarkThreadLowered() {
    Launcher();
    t_bLowered = true;
}

int SpawnProcess(const SpawnRequest& request, pid_t& pid) {
    if (t_bLowered) {
        if (CLauncher* launcher = Launcher())
            return launcher->Spawn(request, pid);
    }
    return SpawnHere(request, pid);
}

namespace {

int SpawnHere(const SpawnRequest& request, pid_t& pid) {
    if (request.executable.empty() || request.argv.empty())
        return EINVAL;
    if (!request.group.empty())
        return SpawnIntoGroup(request, pid);
    SpawnFileActions actions;
    SpawnAttributes attributes;
    if (!actions.Ok() || !attributes.Ok())
        return ENOMEM;
    if (int rc = PrepareFileActions(actions, request); rc != 0)
        return rc;
    if (int rc = PrepareAttributes(attributes, request.newSession); rc != 0)
        return rc;
    std::vector<char*> argv = PointersTo(request.argv);
    std::vector<char*> envp = request.environment ? PointersTo(*request.environment) : std::vector<char*>();
    char** environment = request.environment ? envp.data() : environ;
    return posix_spawn(&pid, request.executable.c_str(), actions.Get(), attributes.Get(), argv.data(), environment);
}

} // namespace

} // namespace vantrel::platform::detail
