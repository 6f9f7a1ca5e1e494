#include "platform/process_detail_win32.h"

#include "platform/fileops.h"
#include "platform/process.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace vantrel::platform {

namespace {

bool NameIs(std::string_view entry, std::string_view name) {
    if (entry.size() <= name.size() || entry[name.size()] != '=')
        return false;
    return std::equal(name.begin(), name.end(), entry.begin(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    });
}

// This program's environment with the client's title and show command, as a sorted block;
// entries of those names that we inherited ourselves are left out.
std::string ClientEnvironment(const ProcessStartInfo& info) {
    std::vector<std::string> entries;
    if (char* block = ::GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::char_traits<char>::length(entry) + 1) {
            std::string_view text(entry);
            if (!NameIs(text, kConsoleTitleVariable) && !NameIs(text, kShowCommandVariable))
                entries.emplace_back(text);
        }
        ::FreeEnvironmentStringsA(block);
    }
    entries.push_back(std::string(kConsoleTitleVariable) + "=" + info.consoleTitle);
    entries.push_back(std::string(kShowCommandVariable) + "=" + std::to_string(info.showCommand));
    // The system expects the block sorted by name, ignoring case.
    std::sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
        return ::CompareStringOrdinal(std::wstring(a.begin(), a.end()).c_str(), -1,
                                      std::wstring(b.begin(), b.end()).c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    std::string block;
    for (const std::string& entry : entries) {
        block += entry;
        block += '\0';
    }
    block += '\0';
    return block;
}

// A relative executable path means one relative to us, not to the client's directory.
std::string FullPath(const std::string& path) {
    DWORD needed = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return {};
    std::string full(needed, '\0');
    DWORD written = ::GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed)
        return {};
    full.resize(written);
    return full;
}

// A new job for the client, in the first generation of its name that no job holds now.
detail::UniqueHandle MakeClientJob(const ProcessStartInfo& info) {
    for (int generation = 0; generation < detail::kJobGenerations; ++generation) {
        std::string name = detail::ClientJobName(info.consoleTitle, info.workingDirectory, generation);
        detail::UniqueHandle job(::CreateJobObjectA(nullptr, name.c_str()));
        if (job.IsValid() && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return job;
    }
    // Every generation still held: an unnamed job still ends the tree through this handle.
    return detail::UniqueHandle(::CreateJobObjectA(nullptr, nullptr));
}

} // namespace

namespace detail {

// One argument quoted as the C runtime splits a command line: backslashes are literal except
// before a quote, where they are doubled, and the quote itself is escaped.
void AppendQuoted(std::string& line, const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

std::string CommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& argument : argv) {
        if (!line.empty())
            line += ' ';
        AppendQuoted(line, argument);
    }
    return line;
}

} // namespace detail

ProcessHandle StartProcess(const ProcessStartInfo& info) {
    // Without a directory the client would run wherever we happen to be.
    if (info.argv.empty() || info.workingDirectory.empty() || !IsDirectory(info.workingDirectory))
        return {};
    std::string executable = FullPath(info.argv[0]);
    if (executable.empty() || !IsRegularFile(executable))
        return {};
    std::string commandLine = detail::CommandLine(info.argv);
    std::string environment = ClientEnvironment(info);
    std::string title = info.consoleTitle;

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.lpTitle = title.empty() ? nullptr : title.data();
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = info.showCommand;
    PROCESS_INFORMATION created{};
    // The desktop is there before a client's console needs it. Windows always has it; under Wine
    // its process starts with the first program that asks for it, and started by a client it
    // would run in that client's job, counted as a client and ended with it.
    static const HWND desktop = ::GetDesktopWindow();
    (void)desktop;
    // Suspended until it is in its job, so nothing it starts escapes; no handle is inherited.
    DWORD flags = CREATE_NEW_CONSOLE | CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP;
    if (!::CreateProcessA(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, environment.data(),
                          info.workingDirectory.c_str(), &startup, &created))
        return {};
    detail::UniqueHandle process(created.hProcess);
    detail::UniqueHandle thread(created.hThread);

    detail::UniqueHandle job = MakeClientJob(info);
    if (!job.IsValid() || !::AssignProcessToJobObject(job.Get(), process.Get())) {
        // A client we could not put in its job could not be found again: it is not left running.
        ::TerminateProcess(process.Get(), 1);
        return {};
    }
    // The client holds its own job too, so the job keeps its name while the client lives, also
    // after this program has gone.
    HANDLE inClient = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), job.Get(), process.Get(), &inClient, JOB_OBJECT_QUERY, FALSE, 0);
    ::ResumeThread(thread.Get());

    ProcessHandle started = ProcessHandle::Adopt(WaitHandle{detail::HandleToInt(process.Release())},
                                                 static_cast<ProcessId>(created.dwProcessId), true, true);
    started.m_job = detail::HandleToInt(job.Release());
    return started;
}

} // namespace vantrel::platform
