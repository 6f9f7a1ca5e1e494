#include "platform/process_detail_win32.h"

#include "e2e_process.h"

#include "platform/fileops.h"

#include <cstdlib>
#include <stdexcept>

namespace vantrel::e2e {

std::optional<std::string> FindProgram(const std::string& name) {
    const std::string file = name.ends_with(".exe") ? name : name + ".exe";
    std::string found(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            ::SearchPathA(nullptr, file.c_str(), nullptr, static_cast<DWORD>(found.size()), found.data(), nullptr);
        if (length == 0)
            return std::nullopt;
        if (length < found.size()) {
            found.resize(length);
            return found;
        }
        found.resize(length);
    }
}

Environment MergedEnvironment(const Environment& changes) {
    Environment env;
    if (char* block = ::GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::char_traits<char>::length(entry) + 1) {
            const std::string text = entry;
            // Entries such as "=C:=C:\\" name a drive's directory, not a variable.
            const std::size_t equals = text.find('=', 1);
            if (equals != std::string::npos)
                env.emplace(text.substr(0, equals), text.substr(equals + 1));
        }
        ::FreeEnvironmentStringsA(block);
    }
    for (const auto& [name, value] : changes)
        env[name] = value;
    return env;
}

CChild::CChild(const std::vector<std::string>& argv, const Environment& env, const std::string& cwd,
               const std::string& logPath, bool captureOutput) {
    if (captureOutput)
        throw std::logic_error("a child's output is read line by line on Linux only; send it to a file");
    std::vector<std::string> entries;
    for (const auto& [name, value] : env)
        entries.push_back(name + "=" + value);
    try {
        m_child = std::make_unique<test::TestChild>(argv, cwd, entries, test::ChildOutput{logPath, logPath});
    } catch (const std::runtime_error&) {
        return;
    }
    // The helper keeps its handle open, so the id names this process until the object goes.
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(m_child->Pid()));
    if (process == nullptr) {
        m_child.reset();
        return;
    }
    m_process = reinterpret_cast<std::intptr_t>(process);
    m_pid = m_child->Pid();
}

CChild::~CChild() {
    // The helper kills and waits for what still runs.
    m_child.reset();
    if (m_process != 0)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_process));
}

std::optional<std::string> CChild::ReadLine() {
    return std::nullopt;
}

std::optional<int> CChild::WaitForExit(std::chrono::milliseconds timeout) {
    if (m_status || m_pid <= 0)
        return m_status;
    if (::WaitForSingleObject(reinterpret_cast<HANDLE>(m_process), static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0)
        return std::nullopt;
    m_status = m_child->Wait();
    return m_status;
}

RunResult RunToEnd(const std::vector<std::string>& argv, const Environment& env, std::chrono::milliseconds timeout) {
    RunResult result;
    test::TempDir work;
    const std::string output = work / "stdout.txt";
    std::vector<std::string> entries;
    for (const auto& [name, value] : env)
        entries.push_back(name + "=" + value);
    std::unique_ptr<test::TestChild> child;
    try {
        child = std::make_unique<test::TestChild>(argv, std::string(), entries, test::ChildOutput{output, "NUL"});
    } catch (const std::runtime_error&) {
        return result;
    }
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(child->Pid()));
    const bool ended = process != nullptr && ::WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) ==
                                                  WAIT_OBJECT_0;
    if (process != nullptr)
        ::CloseHandle(process);
    if (ended)
        result.exitCode = child->Wait();
    child.reset();
    // Lines end as on Linux, so the output compares the same on both systems.
    for (char c : platform::ReadFileText(output, std::size_t{1} << 24).value_or(""))
        if (c != '\r')
            result.output += c;
    return result;
}

} // namespace vantrel::e2e
