// Holds a file open without sharing until its standard input closes or it is killed, standing in
// for a running client on Windows, where every kind of lock the tests name is this one.
// Usage: vantrel_lock_holder flock|posix|ofd PATH. Prints "locked" once it holds the file.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    HANDLE file = INVALID_HANDLE_VALUE;
    // As a lock is waited for: another holder's open ends when it lets go.
    for (;;) {
        file = ::CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        ::Sleep(10);
    }
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    std::printf("locked\n");
    std::fflush(stdout);
    char buffer[64];
    DWORD got = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    ::CloseHandle(file);
    return 0;
}
