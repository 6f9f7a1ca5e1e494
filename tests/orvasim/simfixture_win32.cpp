#include "simfixture.h"

#include <windows.h>

namespace vantrel::test {

bool WaitForEnd(const TestChild& child, std::chrono::milliseconds limit) {
    // The child's own handle stays open in TestChild, so its id names no other process meanwhile.
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child.Pid()));
    if (process == nullptr)
        return false;
    bool ended = ::WaitForSingleObject(process, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
}

int ExitCode(int status) {
    return status; // Windows has exit codes only
}

int KilledExitCode() {
    return 137; // what TestChild::Kill has TerminateProcess give
}

int CrashExitCode() {
    return 3; // abort's exit code
}

} // namespace vantrel::test
