#include "platform/process_detail_win32.h"

#include "platform/process.h"

#include <climits>

namespace vantrel::platform {

namespace {

std::vector<unsigned> ProcessorsOf(DWORD_PTR mask) {
    std::vector<unsigned> processors;
    for (unsigned i = 0; i < sizeof(DWORD_PTR) * CHAR_BIT; ++i)
        if (mask & (DWORD_PTR{1} << i))
            processors.push_back(i);
    return processors;
}

detail::UniqueHandle OpenForQuery(ProcessId pid) {
    return detail::UniqueHandle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
}

} // namespace

bool SetPriorityClass(const ProcessHandle& process, std::uint32_t priorityClass, bool* refused) {
    if (!process.IsValid())
        return false;
    bool done = ::SetPriorityClass(detail::IntToHandle(static_cast<int>(process.ExitHandle().native)), priorityClass) != 0;
    if (!done && refused != nullptr && ::GetLastError() == ERROR_ACCESS_DENIED)
        *refused = true;
    return done;
}

std::optional<std::uint32_t> GetPriorityClass(ProcessId pid) {
    detail::UniqueHandle process = OpenForQuery(pid);
    if (!process.IsValid())
        return std::nullopt;
    DWORD priorityClass = ::GetPriorityClass(process.Get());
    if (priorityClass == IDLE_PRIORITY_CLASS || priorityClass == NORMAL_PRIORITY_CLASS ||
        priorityClass == HIGH_PRIORITY_CLASS)
        return priorityClass;
    return std::nullopt;
}

std::vector<unsigned> GetOwnProcessors() {
    DWORD_PTR own = 0;
    DWORD_PTR system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &own, &system))
        return {};
    return ProcessorsOf(own);
}

bool SetProcessAffinity(const ProcessHandle& process, const std::vector<unsigned>& processors) {
    DWORD_PTR mask = 0;
    for (unsigned processor : processors)
        if (processor < sizeof(DWORD_PTR) * CHAR_BIT)
            mask |= DWORD_PTR{1} << processor;
    if (!process.IsValid() || mask == 0)
        return false;
    return ::SetProcessAffinityMask(detail::IntToHandle(static_cast<int>(process.ExitHandle().native)), mask) != 0;
}

std::vector<unsigned> GetProcessorsOf(ProcessId pid) {
    // A process's affinity holds for all its threads on Windows: the id is the process's.
    detail::UniqueHandle process = OpenForQuery(pid);
    DWORD_PTR mask = 0;
    DWORD_PTR system = 0;
    if (!process.IsValid() || !::GetProcessAffinityMask(process.Get(), &mask, &system))
        return {};
    return ProcessorsOf(mask);
}

void LowerCurrentThreadPriority() {
    // A thread's priority is its own: the processes it starts take the program's priority class.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

} // namespace vantrel::platform
