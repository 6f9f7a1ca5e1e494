#include "host/statusquery.h"

#include "control/statuscommand.h"
#include "host/messagechannel.h"

#include <QCoreApplication>
#include <memory>

namespace vantrel {

int StatusFromCommandLine(int argc, char** argv) {
    // The local sockets need the toolkit's core; no display is opened.
    std::unique_ptr<QCoreApplication> core;
    if (QCoreApplication::instance() == nullptr)
        core = std::make_unique<QCoreApplication>(argc, argv);
    return RunStatusCommand(argc, argv, [](const std::string& programDir) {
        std::vector<std::string> reports;
        for (const CopyAnswer& answer : SendToAllCopies(GetChannelDirectory(), {kStatusCommand, programDir}))
            if (answer.reply == EChannelReply::Done)
                reports.push_back(answer.payload);
        return reports;
    });
}

} // namespace vantrel
