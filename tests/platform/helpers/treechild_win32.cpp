// A client for the Windows process tests. "sleep": waits until it is ended. "tree FILE": starts a
// child of its own ("sleep"), writes that child's process id to FILE, then waits.
// "parent FILE TITLE DIR CLIENT": starts CLIENT as a client through the platform layer, writes the
// client's process id to FILE and waits, as a copy of the program that will be killed.
#include "platform/detail_win32.h" // <windows.h> without the macros that clash with ours

#include <fstream>
#include <string>

#include "platform/process.h"

namespace {

void WriteId(const char* path, unsigned long id) {
    std::string temp = std::string(path) + ".part";
    std::ofstream(temp) << id << '\n';
    ::MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "sleep";
    if (mode == "tree" && argc > 2) {
        std::string self(MAX_PATH, '\0');
        self.resize(::GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size())));
        std::string line = "\"" + self + "\" sleep";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!::CreateProcessA(self.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
            return 2;
        WriteId(argv[2], child.dwProcessId);
    } else if (mode == "parent" && argc > 5) {
        static vantrel::platform::ProcessHandle client =
            vantrel::platform::StartProcess({{argv[5], "sleep"}, argv[4], argv[3], vantrel::platform::SW_HIDE});
        if (!client.IsValid())
            return 3;
        WriteId(argv[2], static_cast<unsigned long>(client.Pid()));
    }
    for (;;)
        ::Sleep(INFINITE);
}
