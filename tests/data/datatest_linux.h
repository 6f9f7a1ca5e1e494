#pragma once

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/childprocess.h"

namespace vantrel::test {

// Runs fn in a forked child and returns its wait status; the child exits 0 when fn returns true.
// dropRoot makes a child that runs as root an ordinary user (nobody), so permissions bite.
// fileSizeLimit caps the size of files the child writes, standing in for a full disk.
template <typename Fn> int RunInChild(Fn fn, bool dropRoot = false, rlim_t fileSizeLimit = RLIM_INFINITY) {
    pid_t pid = fork();
    if (pid == 0) {
        if (dropRoot && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        if (fileSizeLimit != RLIM_INFINITY) {
            signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
            struct rlimit limit {
                fileSizeLimit, fileSizeLimit
            };
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(4);
        }
        _exit(fn() ? 0 : 1);
    }
    int status = -1;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace vantrel::test
