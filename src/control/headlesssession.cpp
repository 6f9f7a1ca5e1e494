#include "control/headlesssession.h"

#include <iostream>
#include <memory>
#include <string_view>

namespace vantrel {

namespace {

// No box can ask: the reason goes to stderr and the choice is cancelled, which ends the start.
class CHeadlessChooser final : public IClientChooser {
public:
    std::string AskForClient(const std::string& programDir) override {
        std::cerr << HeadlessNoClientMessage(programDir) << "\n";
        return {};
    }
    void ShowMessage(const std::string& text, bool) override { std::cerr << "vantrel: " << text << "\n"; }
};

} // namespace

std::string HeadlessNoClientMessage(const std::string& programDir) {
    return "vantrel: without a window Vantrel cannot ask for the ORVA client; put exactly one client (ORVA*.exe, or "
           "one whose name holds CMDLINE) into " +
           programDir + ", or start the desktop program there once and choose it";
}

std::vector<std::string> HeadlessKeywords(int argc, char** argv) {
    std::vector<std::string> keywords;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--headless")
            keywords.emplace_back(argv[i]);
    }
    return keywords;
}

ProgramFrontEnd MakeHeadlessFrontEnd(IScheduler& scheduler, ICopyChannel& channel, IStopRequests& stopRequests) {
    ProgramFrontEnd frontEnd(scheduler);
    frontEnd.channel = &channel;
    frontEnd.stopRequests = &stopRequests;
    // Another copy in this directory is never asked to show a window: there is none here to hand to.
    frontEnd.handOver = false;
    frontEnd.makeChooser = [](const StartPlace&) { return std::make_unique<CHeadlessChooser>(); };
    frontEnd.presentNotice = [](const ProblemNotice& notice) {
        // A lost row is on standard error already, said at once whether notices are on or not.
        if (notice.Kind != EProblem::LogRowLost)
            std::cerr << "vantrel: " << notice.Title << ": " << notice.Text << "\n";
    };
    return frontEnd;
}

int RunHeadlessSession(ProgramFrontEnd frontEnd, const std::function<void(CProgramSession&)>& runLoop) {
    auto session = std::make_unique<CProgramSession>(std::move(frontEnd));
    if (std::optional<int> code = session->Start())
        return *code;
    // Said once the copy answers other programs (--status, --post) and has ended the clients it
    // found left behind.
    std::cout << "vantrel: running without a window in " << session->ProgramDir() << " with the client "
              << session->Store()->GetClientPath() << std::endl;
    if (!session->HasEnded())
        runLoop(*session);
    session->EndFromOutside();
    session.reset();
    std::cout << "vantrel: ended" << std::endl;
    return 0;
}

} // namespace vantrel
