#include "platform/process_detail_linux.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>

extern char** environ;

namespace vantrel::platform::detail {

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

std::vector<char*> PointersTo(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const auto& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

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

} // namespace

int SpawnProcess(const SpawnRequest& request, pid_t& pid) {
    if (request.executable.empty() || request.argv.empty())
        return EINVAL;
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

} // namespace vantrel::platform::detail
