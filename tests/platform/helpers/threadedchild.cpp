// Runs the number of extra threads given as its argument, all blocked, until it is killed: a
// client with several threads for the priority and affinity tests.
#include <cstdlib>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([] {
            for (;;)
                pause();
        });
    for (;;)
        pause();
}
