#include "platform/process.h"
#include "platform/process_detail_linux.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <memory>
#include <sched.h>
#include <set>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// Priority and processor masks are properties of each thread on Linux, so everything here is
// applied to every task of the process, not to its main thread alone.
namespace vantrel::platform {

namespace {

constexpr int kHighPriorityNice = -10;
constexpr int kLowestNice = 19;
// How much nicer than the rest of the program a thread becomes when it lowers its priority.
constexpr int kLowerThreadNiceStep = 5;
// Threads started while we walk the task list are caught by another pass; a program that keeps
// starting threads is not chased for ever.
constexpr int kMaxThreadPasses = 16;

std::vector<pid_t> ListThreads(pid_t pid) {
    std::vector<pid_t> tids;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (std::filesystem::directory_iterator it(tasks, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        pid_t tid = 0;
        auto [last, parseError] = std::from_chars(name.data(), name.data() + name.size(), tid);
        if (parseError == std::errc() && last == name.data() + name.size())
            tids.push_back(tid);
    }
    return tids;
}

// Calls apply(tid) for every thread of the process, once each, including threads that appear
// meanwhile; apply returns 0 or an errno. A thread that ended before its turn (ESRCH) needs
// nothing. True when every thread took the change.
template <typename Apply> bool ForEveryThread(const ProcessHandle& process, Apply apply) {
    std::set<pid_t> done;
    bool allTook = true;
    for (int pass = 0; pass < kMaxThreadPasses; ++pass) {
        // While the process lives its pid cannot pass to another one, so its task list is its own.
        if (!process.IsAlive())
            return false;
        bool anyNew = false;
        for (pid_t tid : ListThreads(process.Pid())) {
            if (!done.insert(tid).second)
                continue;
            anyNew = true;
            int error = apply(tid);
            if (error != 0 && error != ESRCH)
                allTook = false;
        }
        if (!anyNew)
            break;
    }
    return allTook && !done.empty();
}

// The kernel's struct sched_attr in its first published layout; its header clashes with the C
// library's sched_param.
struct SchedAttributes {
    std::uint32_t size = sizeof(SchedAttributes);
    std::uint32_t sched_policy = 0;
    std::uint64_t sched_flags = 0;
    std::int32_t sched_nice = 0;
    std::uint32_t sched_priority = 0;
    std::uint64_t sched_runtime = 0;
    std::uint64_t sched_deadline = 0;
    std::uint64_t sched_period = 0;
};
static_assert(sizeof(SchedAttributes) == 48);

int ApplyPriorityClass(pid_t tid, std::uint32_t priorityClass) {
    if (priorityClass == IDLE_PRIORITY_CLASS) {
        // The nice value stays as it is; an idle thread's weight does not depend on it.
        sched_param parameters{};
        return sched_setscheduler(tid, SCHED_IDLE, &parameters) == 0 ? 0 : errno;
    }
    // Policy and nice value in one call, so a refusal leaves the thread as it was.
    SchedAttributes attributes;
    attributes.sched_policy = SCHED_OTHER;
    attributes.sched_nice = priorityClass == HIGH_PRIORITY_CLASS ? kHighPriorityNice : 0;
    return syscall(SYS_sched_setattr, tid, &attributes, 0u) == 0 ? 0 : errno;
}

struct CpuSetFree {
    void operator()(cpu_set_t* set) const { CPU_FREE(set); }
};

// A processor set of any size: the kernel refuses a set smaller than its own, so the reader grows
// it until the kernel accepts.
class CpuSet {
public:
    explicit CpuSet(int cpus) : m_set(CPU_ALLOC(cpus)), m_bytes(CPU_ALLOC_SIZE(cpus)) {
        if (m_set)
            CPU_ZERO_S(m_bytes, m_set.get());
    }
    bool IsValid() const { return m_set != nullptr; }
    cpu_set_t* Get() const { return m_set.get(); }
    std::size_t Bytes() const { return m_bytes; }

    std::vector<unsigned> Processors() const {
        std::vector<unsigned> processors;
        for (std::size_t cpu = 0; cpu < m_bytes * 8; ++cpu)
            if (CPU_ISSET_S(cpu, m_bytes, m_set.get()))
                processors.push_back(static_cast<unsigned>(cpu));
        return processors;
    }

private:
    std::unique_ptr<cpu_set_t, CpuSetFree> m_set;
    std::size_t m_bytes = 0;
};

std::vector<unsigned> ReadAffinity(pid_t tid) {
    for (int cpus = 1024; cpus <= (1 << 22); cpus *= 2) {
        CpuSet set(cpus);
        if (!set.IsValid())
            return {};
        if (sched_getaffinity(tid, set.Bytes(), set.Get()) == 0)
            return set.Processors();
        if (errno != EINVAL)
            return {};
    }
    return {};
}

std::optional<int> NiceOf(pid_t tid) {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (nice == -1 && errno != 0)
        return std::nullopt;
    return nice;
}

} // namespace

bool SetPriorityClass(const ProcessHandle& process, std::uint32_t priorityClass, bool* refused) {
    if (priorityClass != IDLE_PRIORITY_CLASS && priorityClass != NORMAL_PRIORITY_CLASS &&
        priorityClass != HIGH_PRIORITY_CLASS)
        return false;
    return ForEveryThread(process, [priorityClass, refused](pid_t tid) {
        int error = ApplyPriorityClass(tid, priorityClass);
        if (refused != nullptr && (error == EPERM || error == EACCES))
            *refused = true;
        return error;
    });
}

std::optional<std::uint32_t> GetPriorityClass(ProcessId pid) {
    int policy = sched_getscheduler(pid);
    if (policy < 0)
        return std::nullopt;
    policy &= ~SCHED_RESET_ON_FORK;
    if (policy == SCHED_IDLE)
        return IDLE_PRIORITY_CLASS;
    std::optional<int> nice = NiceOf(pid);
    if (policy != SCHED_OTHER || !nice)
        return std::nullopt;
    if (*nice == 0)
        return NORMAL_PRIORITY_CLASS;
    if (*nice == kHighPriorityNice)
        return HIGH_PRIORITY_CLASS;
    return std::nullopt;
}

std::vector<unsigned> GetOwnProcessors() {
    return ReadAffinity(getpid());
}

bool SetProcessAffinity(const ProcessHandle& process, const std::vector<unsigned>& processors) {
    if (processors.empty())
        return false;
    // Sized for the highest processor named, however many the machine has.
    CpuSet set(static_cast<int>(*std::max_element(processors.begin(), processors.end())) + 1);
    if (!set.IsValid())
        return false;
    for (unsigned cpu : processors)
        CPU_SET_S(cpu, set.Bytes(), set.Get());
    return ForEveryThread(
        process, [&set](pid_t tid) { return sched_setaffinity(tid, set.Bytes(), set.Get()) == 0 ? 0 : errno; });
}

std::vector<unsigned> GetProcessorsOf(ProcessId tid) {
    return ReadAffinity(tid);
}

void LowerCurrentThreadPriority() {
    const pid_t self = gettid();
    std::optional<int> programNice = NiceOf(getpid());
    std::optional<int> threadNice = NiceOf(self);
    if (!programNice || !threadNice)
        return;
    // Measured from the program's own nice value, so lowering twice changes nothing more.
    detail::MarkThreadLowered();
    int lowered = std::min(*programNice + kLowerThreadNiceStep, kLowestNice);
    if (lowered > *threadNice)
        setpriority(PRIO_PROCESS, static_cast<id_t>(self), lowered);
}

} // namespace vantrel::platform
