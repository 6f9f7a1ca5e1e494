// Starts a client in the directory given, prints the client's cgroup (an empty line without one)
// and ends when its standard input closes, leaving the client running: a copy of the program that
// ends while its transmit client works on. The client ends once a file "stop" appears there.
#include <iostream>
#include <string>

#include "platform/process.h"
#include "platform/process_detail_linux.h"

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    vantrel::platform::ProcessHandle client = vantrel::platform::StartProcess(
        {{"/bin/sh", "-c", "while [ ! -e stop ]; do sleep 0.05; done"}, argv[1], "ORVA 9", vantrel::platform::SW_HIDE});
    if (!client.IsValid())
        return 1;
    std::cout << vantrel::platform::detail::ClientGroupOf(client.Pid()) << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
    }
    return 0;
}
