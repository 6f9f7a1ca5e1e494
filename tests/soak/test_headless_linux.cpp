#include "test_headless.h"

#include <csignal>

#include "platform/fileops.h"

namespace vantrel::soak {

std::size_t LedgerWorkUnits() {
    return 60;
}

std::vector<std::string> GraphicalParts(const e2e::CChild& program) {
    const std::string maps = platform::ReadFileText("/proc/" + std::to_string(program.Pid()) + "/maps",
                                                    std::size_t{1} << 24)
                                 .value_or("");
    std::vector<std::string> parts;
    if (maps.find("libQt6Core") == std::string::npos)
        parts.push_back("not the headless program: no libQt6Core");
    for (const char* library : {"libQt6Gui", "libQt6Widgets"})
        if (maps.find(library) != std::string::npos)
            parts.push_back(std::string(library) + " is loaded");
    return parts;
}

std::string ReadJsonSummary(const std::string& json) {
    test::TempDir work;
    test::WriteFile(work / "status.json", json);
    return e2e::RunToEnd({e2e::FindProgram("python3").value_or("python3"), "-c",
                          "import json,sys\n"
                          "d = json.load(open(sys.argv[1]))\n"
                          "print(d['running'], d['current_cache_size'], d['desired_cache_size'], d['program_dir'])",
                          work / "status.json"},
                         e2e::MergedEnvironment({}))
        .output;
}

std::vector<EndRequest> EndRequests() {
    auto signal = [](int number) {
        return [number](const CProgramDir&, e2e::CChild& program) { return ::kill(program.Pid(), number) == 0; };
    };
    return {{"SIGTERM", signal(SIGTERM)}, {"SIGINT", signal(SIGINT)}};
}

} // namespace vantrel::soak
