// Until the window exists: finds the client, tidies the cache and prints what it found.
#include <cstdio>
#include <iostream>
#include <string>

#include "core/cachestore.h"
#include "platform/fileops.h"
#include "platform/system.h"

namespace {

// Asks on the terminal, with the same texts and rules as the file dialog.
class TerminalChooser : public vantrel::IClientChooser {
public:
    std::string AskForClient(const std::string& programDir) override {
        std::cout << "Vantrel - Select CLI Client (in " << programDir << "; empty line cancels): " << std::flush;
        std::string line;
        if (!std::getline(std::cin, line))
            return {};
        return line;
    }
    void ShowMessage(const std::string& text, bool) override { std::cerr << "Vantrel: " << text << '\n'; }
};

} // namespace

int main() {
    std::string exe = vantrel::platform::GetOwnExecutablePath();
    vantrel::CRunningSlots slots;
    vantrel::CCacheStore store(vantrel::platform::DirectoryPart(exe), vantrel::platform::FileNamePart(exe), slots);
    TerminalChooser chooser;
    if (!store.SelectClientAtStartup(chooser))
        return 1;
    store.CompactInstances();
    vantrel::CacheCounters c = vantrel::CountCacheState(store, slots);
    std::printf("client: %s\ncache: %u instances, %u waiting, %u ready to transmit, %u to fill\n",
                store.GetClientPath().c_str(), c.CurrentCacheSize, c.WaitingToProcess, c.ReadyToTransmit,
                c.NeedToFill);
    return 0;
}
