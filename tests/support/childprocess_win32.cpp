#include "platform/process_detail_win32.h"

#include "support/buildpaths.h"
#include "support/childprocess.h"

#include <fcntl.h>
#include <io.h>
#include <stdexcept>
#include <string>

namespace vantrel::test {

namespace {

// A pipe whose one end (the child's) is inheritable.
void MakePipe(HANDLE& ours, HANDLE& theirs, bool theyRead) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        throw std::runtime_error("CreatePipe failed");
    ours = theyRead ? writeEnd : readEnd;
    theirs = theyRead ? readEnd : writeEnd;
    ::SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
}

// An inheritable handle appending to path; none when no path is named.
HANDLE OpenOutput(const std::string& path) {
    if (path.empty())
        return nullptr;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                &inherit, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path);
    return file;
}

} // namespace

TestChild::TestChild(const std::vector<std::string>& argv, const std::string& cwd,
                     const std::vector<std::string>& extraEnv, const ChildOutput& output) {
    HANDLE inOurs = nullptr, inTheirs = nullptr, outOurs = nullptr, outTheirs = nullptr;
    MakePipe(inOurs, inTheirs, true);
    MakePipe(outOurs, outTheirs, false);
    HANDLE outFile = OpenOutput(output.outFile);
    HANDLE errFile = output.errFile == output.outFile ? outFile : OpenOutput(output.errFile);
    std::vector<std::string> inherited;
    if (char* block = ::GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::char_traits<char>::length(entry) + 1)
            inherited.emplace_back(entry);
        ::FreeEnvironmentStringsA(block);
    }
    std::string environment;
    for (const std::string& entry : MergeEnvironmentEntries(std::move(inherited), extraEnv))
        environment.append(entry).push_back('\0');
    environment.push_back('\0');
    std::string line = platform::detail::CommandLine(argv);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inTheirs;
    startup.hStdOutput = outFile != nullptr ? outFile : outTheirs;
    startup.hStdError = errFile != nullptr ? errFile : ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION created{};
    bool started = ::CreateProcessA(argv.at(0).c_str(), line.data(), nullptr, nullptr, TRUE, 0, environment.data(),
                                    cwd.empty() ? nullptr : cwd.c_str(), &startup, &created);
    const DWORD startError = ::GetLastError();
    ::CloseHandle(inTheirs);
    ::CloseHandle(outTheirs);
    if (outFile != nullptr)
        ::CloseHandle(outFile);
    if (errFile != nullptr && errFile != outFile)
        ::CloseHandle(errFile);
    if (!started) {
        ::CloseHandle(inOurs);
        ::CloseHandle(outOurs);
        throw std::runtime_error("cannot start " + argv.at(0) + " (error " + std::to_string(startError) + ")");
    }
    ::CloseHandle(created.hThread);
    m_process = reinterpret_cast<std::intptr_t>(created.hProcess);
    m_pid = static_cast<pid_t>(created.dwProcessId);
    m_in = ::_open_osfhandle(reinterpret_cast<intptr_t>(inOurs), _O_WRONLY | _O_BINARY);
    m_out = ::_open_osfhandle(reinterpret_cast<intptr_t>(outOurs), _O_RDONLY | _O_BINARY);
}

TestChild::~TestChild() {
    Kill();
    if (m_process != 0)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_process));
    if (m_in >= 0)
        ::_close(m_in);
    if (m_out >= 0)
        ::_close(m_out);
}

std::string TestChild::ReadLine() {
    std::string line;
    char c;
    while (::_read(m_out, &c, 1) == 1) {
        if (c == '\n')
            break;
        if (c != '\r')
            line += c;
    }
    return line;
}

std::string TestChild::ReadToEnd() {
    std::string rest;
    char buffer[4096];
    int got;
    while ((got = ::_read(m_out, buffer, sizeof buffer)) > 0)
        rest.append(buffer, static_cast<std::size_t>(got));
    return rest;
}

void TestChild::CloseInput() {
    if (m_in >= 0) {
        ::_close(m_in);
        m_in = -1;
    }
}

int TestChild::Kill() {
    if (m_process != 0 && !m_reaped)
        ::TerminateProcess(reinterpret_cast<HANDLE>(m_process), 137);
    return Wait();
}

int TestChild::Wait() {
    if (m_process != 0 && !m_reaped) {
        auto process = reinterpret_cast<HANDLE>(m_process);
        ::WaitForSingleObject(process, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process, &code);
        m_status = static_cast<int>(code);
        m_reaped = true;
    }
    return m_status;
}

int ChildExitCode(int status) {
    // The status is the process's exit code itself.
    return status;
}

std::vector<std::string> LockHolderArgs(const std::string& kind, const std::string& path) {
    return {test::build::kLockHolder, kind, path};
}

int CountZombieChildren() {
    return 0;
}

bool IsProcessRunning(long pid) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

} // namespace vantrel::test
