#include "platform/process_detail_win32.h"

#include "programdir.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <psapi.h>
#include <set>
#include <tlhelp32.h>

#include "platform/fileops.h"
#include "support/childprocess.h"

namespace vantrel::soak {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The executables a client run of the program starts: the client itself, or an instance's old one.
bool IsClientImage(const char* name) {
    const std::string lower = Lower(name);
    return lower == "orva_sim_cmdline.exe" || lower == "orvaoldclient.exe";
}

// A started client writes its run record within a second or two. One that has not after this long
// never will: a program killed between creating a client suspended and resuming it leaves it so.
constexpr ULONGLONG kRecordAllowance = 20ULL * 10'000'000; // in FILETIME's 100 ns

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Whether the process's executable lies beneath the directory (lower case, with its separator)
// and it was started recently enough to be on its way to its run record.
bool IsStartingBeneath(DWORD pid, const std::string& beneath) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return false;
    const std::optional<std::string> image = platform::detail::ProcessImagePath(process);
    FILETIME created{}, exited{}, kernel{}, user{}, now{};
    const bool timed = ::GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
    ::CloseHandle(process);
    ::GetSystemTimeAsFileTime(&now);
    return image && Lower(*image).starts_with(beneath) && timed && Ticks(now) < Ticks(created) + kRecordAllowance;
}

} // namespace

const char* const kProgramFileName = "vantrel.exe";

void CProgramDir::InstallSystemParts() {
    // Copies reach one another through window messages and named pipes; the folder only keeps
    // the layout the same on both systems.
    test::MakeDirs(m_runtime);
    // The program with a window needs a desktop shell; the headless one runs the same session.
    m_args = {"--headless"};
}

void CProgramDir::AdoptClient(const e2e::CChild& client, unsigned n, const std::string& title) const {
    // The same named job a run of the program puts this client in.
    for (int generation = 0; generation < platform::detail::kJobGenerations; ++generation) {
        const std::string name = platform::detail::ClientJobName(title, InstancePath(n), generation);
        HANDLE job = ::CreateJobObjectA(nullptr, name.c_str());
        if (job == nullptr)
            continue;
        if (::GetLastError() == ERROR_ALREADY_EXISTS) {
            ::CloseHandle(job);
            continue;
        }
        std::shared_ptr<void> held(job, ::CloseHandle);
        HANDLE process = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(client.Pid()));
        if (process != nullptr && ::AssignProcessToJobObject(job, process))
            m_clientGroups.push_back(std::move(held));
        if (process != nullptr)
            ::CloseHandle(process);
        return;
    }
}

Environment CProgramDir::BaseEnvironment() const {
    return e2e::MergedEnvironment({{"ORVA_SIM_SERVER", m_server}});
}

std::vector<e2e::ClientProcess> CProgramDir::Clients() const {
    // Another process's working directory and environment are not open to read here, so each run
    // of the simulated client tells the server its process id, directory and title; the last run
    // of each id counts, ids being reused.
    std::map<DWORD, e2e::ClientProcess> runs;
    std::set<DWORD> elsewhere;
    const std::string beneath = Lower(m_program) + "\\";
    for (const ClientRun& run : ReadRuns(*this)) {
        const auto pid = static_cast<DWORD>(run.pid);
        if (Lower(run.dir).starts_with(beneath)) {
            runs[pid] = {run.pid, run.title};
            elsewhere.erase(pid);
        } else {
            runs.erase(pid);
            elsewhere.insert(pid);
        }
    }
    std::vector<e2e::ClientProcess> found;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry)) {
        if (!IsClientImage(entry.szExeFile))
            continue;
        // A client only just started has told the server nothing yet. Its executable, the copy in
        // this program directory (or an instance's old one beneath it), tells it is ours, and it
        // counts, untitled, while it may still do so: otherwise a wait for the last client to end
        // could miss a transmit run that the program left to finish at exit, which then fetches.
        if (auto run = runs.find(entry.th32ProcessID); run != runs.end())
            found.push_back(run->second);
        else if (!elsewhere.contains(entry.th32ProcessID) && IsStartingBeneath(entry.th32ProcessID, beneath))
            found.push_back({static_cast<pid_t>(entry.th32ProcessID), ""});
    }
    ::CloseHandle(snapshot);
    return found;
}

std::chrono::milliseconds ClientStartAllowance() {
    // Under Wine a process start, with the console host of its own console, takes a few hundred
    // milliseconds once the processors are busy.
    return std::chrono::milliseconds(300);
}

bool KillProcess(pid_t pid) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    const bool killed = ::TerminateProcess(process, 137) != 0;
    ::CloseHandle(process);
    return killed;
}

bool IsAlive(pid_t pid) {
    return test::IsProcessRunning(pid);
}

bool WorksIn(const CProgramDir& dir, pid_t pid, const std::string& path) {
    std::string told;
    for (const ClientRun& run : ReadRuns(dir))
        if (run.pid == pid && !run.dir.empty())
            told = run.dir;
    std::error_code error;
    auto name = [&](const std::string& p) { return Lower(std::filesystem::weakly_canonical(p, error).string()); };
    return !told.empty() && name(told) == name(path);
}

bool MakeFifo(const std::string&) {
    return false;
}

bool IsFifo(const std::string&) {
    return false;
}

bool KillHard(e2e::CChild& program) {
    // TerminateProcess is this system's kill -9: no handler of the program runs.
    return KillProcess(program.Pid()) && program.WaitForExit(std::chrono::seconds(10)).has_value();
}

std::optional<ProcessSample> SampleProcess(pid_t pid) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE,
                                   static_cast<DWORD>(pid));
    if (process == nullptr)
        return std::nullopt;
    std::optional<ProcessSample> sample;
    PROCESS_MEMORY_COUNTERS memory{};
    DWORD handles = 0;
    FILETIME created, ended, kernel, user;
    if (::WaitForSingleObject(process, 0) == WAIT_TIMEOUT &&
        ::K32GetProcessMemoryInfo(process, &memory, sizeof memory) && ::GetProcessHandleCount(process, &handles) &&
        ::GetProcessTimes(process, &created, &ended, &kernel, &user)) {
        auto ticks = [](const FILETIME& time) {
            return static_cast<double>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
        };
        sample = ProcessSample{static_cast<long>(memory.WorkingSetSize / 1024), static_cast<long>(handles),
                               (ticks(kernel) + ticks(user)) / 1e7};
    }
    ::CloseHandle(process);
    return sample;
}

std::optional<int> ExitCode(e2e::CChild& program, std::chrono::milliseconds timeout) {
    // On Windows the status is the exit code itself.
    return program.WaitForExit(timeout);
}

} // namespace vantrel::soak
