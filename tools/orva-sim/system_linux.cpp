#include "system.h"

#include "knobs.h"
#include "platform/system.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvasim {

const char* const kPlatformName = "x86_64-pc-linux-gnu (simulated)";

void PrepareProcess() {
    std::signal(SIGPIPE, SIG_IGN);
}

void AbortLikeACrash() {
    // No core file in the instance directory.
    struct rlimit noCore {};
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::abort();
}

DirectoryIdentity CurrentDirectoryIdentity() {
    DirectoryIdentity wd;
    std::error_code ec;
    wd.path = std::filesystem::current_path(ec).string();
    struct stat here {};
    if (::stat(".", &here) == 0) {
        wd.volume = here.st_dev;
        wd.id = here.st_ino;
        wd.linked = here.st_nlink > 0;
    }
    return wd;
}

std::string DefaultServerDir() {
    std::filesystem::path self = vantrel::platform::GetOwnExecutablePath();
    if (self.empty())
        return {};
    // Beside the executable, unless it is installed where the user may not write (/usr/libexec):
    // then in the user's data directory, where an installed Vantrel keeps its cache too.
    if (::access(self.parent_path().c_str(), W_OK) == 0)
        return (self.parent_path() / "orva-server").string();
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        base = std::filesystem::path(home) / ".local/share";
    else
        return (self.parent_path() / "orva-server").string();
    return (base / "vantrel" / "orva-server").string();
}

void LeaveGrandchild(bool ownSession) {
    pid_t child = ::fork();
    if (child != 0)
        return;
    if (ownSession && ::setsid() < 0)
        ::_exit(1);
    std::string pid = std::to_string(::getpid()) + "\n";
    int fd = ::open(kGrandchildFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t written = ::write(fd, pid.data(), pid.size());
        (void)written;
        ::close(fd);
    }
    ::unsetenv("VANTREL_CONSOLE_TITLE");
    if (::chdir("/") != 0)
        ::_exit(1);
    // A fresh image: the title is gone from /proc/PID/environ too.
    ::execl("/bin/sleep", "sleep", "100000", static_cast<char*>(nullptr));
    for (;;)
        ::pause();
}

} // namespace orvasim
