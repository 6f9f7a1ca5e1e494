// Holds a lock on a file until its standard input closes or it is killed, standing in for a
// running client. Usage: vantrel_lock_holder flock|posix|ofd PATH. Prints "locked" once it holds.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    int fd = open(argv[2], O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 3;
    bool ok = false;
    if (std::strcmp(argv[1], "flock") == 0) {
        ok = flock(fd, LOCK_EX) == 0;
    } else {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        int cmd = std::strcmp(argv[1], "ofd") == 0 ? F_OFD_SETLKW : F_SETLKW;
        ok = fcntl(fd, cmd, &lock) == 0;
    }
    if (!ok)
        return 4;
    std::printf("locked\n");
    std::fflush(stdout);
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
