#include <windows.h>

#include "test_headless.h"

#include <gtest/gtest.h>

#include <regex>

namespace vantrel::soak {

namespace {

// A JSON string's text with its escapes undone (those of ASCII characters; the test's paths have
// no other).
std::string Unescape(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'u' && i + 4 < text.size()) {
            plain += static_cast<char>(std::stoi(text.substr(i + 1, 4), nullptr, 16));
            i += 4;
        } else {
            plain += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        }
    }
    return plain;
}

} // namespace

std::size_t LedgerWorkUnits() {
    return 24;
}

std::vector<std::string> GraphicalParts(const e2e::CChild& program) {
    struct Search {
        DWORD process;
        std::vector<std::string> visible;
    } search{static_cast<DWORD>(program.Pid()), {}};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            char title[128] = {};
            ::GetWindowTextA(window, title, sizeof title);
            if (owner == s->process && ::IsWindowVisible(window))
                s->visible.push_back(std::string("a visible window \"") + title + "\"");
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.visible;
}

std::string ReadJsonSummary(const std::string& json) {
    // No Python here: the four members are read one by one from the one object the program wrote.
    static const std::regex object(R"re(\s*\{.*\}\s*)re");
    static const std::regex running(R"re("running": (true|false)[,}])re");
    static const std::regex current(R"re("current_cache_size": ([0-9]+)[,}])re");
    static const std::regex desired(R"re("desired_cache_size": ([0-9]+)[,}])re");
    static const std::regex dir(R"re("program_dir": "((?:[^"\\]|\\.)*)"[,}])re");
    std::smatch r, c, d, p;
    if (!std::regex_match(json, object) || !std::regex_search(json, r, running) ||
        !std::regex_search(json, c, current) || !std::regex_search(json, d, desired) ||
        !std::regex_search(json, p, dir))
        return "not the status object: " + json;
    return std::string(r[1] == "true" ? "True" : "False") + " " + c[1].str() + " " + d[1].str() + " " +
           Unescape(p[1]) + "\n";
}

std::vector<EndRequest> EndRequests() {
    return {{"--post 16", [](const CProgramDir& dir, e2e::CChild&) { return dir.PostExit() == 0; }}};
}

// On Linux the same test ends the program by SIGTERM and SIGINT; here the console's requests would
// stand in for them.
TEST(Headless, EndsOnTheConsolesRequests) {
    GTEST_SKIP() << "Ctrl+C, Ctrl+Break and the console's close cannot be sent to the program from a test under "
                    "Wine (GenerateConsoleCtrlEvent fails for it here); the program is ended by --post 16 in the "
                    "other tests";
}

} // namespace vantrel::soak
