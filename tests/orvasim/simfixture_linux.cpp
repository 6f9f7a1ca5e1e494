#include "simfixture.h"

#include <csignal>
#include <sys/wait.h>

namespace vantrel::test {

bool WaitForEnd(const TestChild& child, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
            siginfo_t info{};
            // WNOWAIT leaves the child to be reaped by its owner.
            return ::waitid(P_PID, static_cast<id_t>(child.Pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == child.Pid();
        },
        limit);
}

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int KilledExitCode() {
    return 128 + SIGKILL;
}

int CrashExitCode() {
    return 128 + SIGABRT;
}

} // namespace vantrel::test
