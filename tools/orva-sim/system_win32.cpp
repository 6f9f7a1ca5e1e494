#include "system.h"

#include "datafiles.h"
#include "knobs.h"
#include "platform/system.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <string>

namespace orvasim {

const char* const kPlatformName = "x86_64-w64-mingw32 (simulated)";

void PrepareProcess() {
    // A write to a closed pipe fails on Windows; no signal to ignore. A crash must not wait for
    // someone to close an error box, as an unattended client's would not.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

void AbortLikeACrash() {
    // No message box and no error report: the run just ends with abort's exit code 3, with
    // nothing flushed or cleaned up, as after a real crash.
    ::TerminateProcess(::GetCurrentProcess(), 3);
    std::abort();
}

DirectoryIdentity CurrentDirectoryIdentity() {
    DirectoryIdentity wd;
    std::error_code ec;
    wd.path = std::filesystem::current_path(ec).string();
    // Opened for no access, so nothing stands in the way of anyone else.
    HANDLE here = ::CreateFileW(L".", 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (here == INVALID_HANDLE_VALUE)
        return wd;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(here, &info)) {
        wd.volume = info.dwVolumeSerialNumber;
        wd.id = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        wd.linked = info.nNumberOfLinks > 0;
    }
    ::CloseHandle(here);
    return wd;
}

std::string DefaultServerDir() {
    std::filesystem::path self = vantrel::platform::GetOwnExecutablePath();
    if (self.empty())
        return {};
    // Beside the executable when that folder may be written (made there now, as a probe), else
    // in the user's local application data, as an installed copy under Program Files needs.
    std::filesystem::path beside = self.parent_path() / "orva-server";
    std::error_code ec;
    std::filesystem::create_directories(beside, ec);
    if (std::filesystem::is_directory(beside, ec))
        return beside.string();
    if (const char* local = std::getenv("LOCALAPPDATA"); local != nullptr && std::filesystem::path(local).is_absolute())
        return (std::filesystem::path(local) / "vantrel" / "orva-server").string();
    return beside.string();
}

namespace {

// This process's environment without VANTREL_CONSOLE_TITLE, as a block for CreateProcessW.
std::wstring EnvironmentWithoutTitle() {
    static const std::wstring kDropped = L"VANTREL_CONSOLE_TITLE=";
    std::wstring block;
    if (wchar_t* strings = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1)
            if (::_wcsnicmp(entry, kDropped.c_str(), kDropped.size()) != 0)
                block.append(entry).push_back(L'\0');
        ::FreeEnvironmentStringsW(strings);
    }
    block.push_back(L'\0');
    return block;
}

} // namespace

void LeaveGrandchild(bool ownSession) {
    // No fork on Windows: a second copy of this program that only sleeps, started in the root of
    // the drive without the title and sharing nothing with the run (no handles).
    std::wstring self = std::filesystem::path(vantrel::platform::GetOwnExecutablePath()).wstring();
    std::wstring line = L"\"" + self + L"\" " + std::filesystem::path(kSleepUntilKilledSwitch).wstring();
    std::error_code ec;
    std::wstring root = std::filesystem::current_path(ec).root_path().wstring();
    std::wstring environment = EnvironmentWithoutTitle();
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | (ownSession ? DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP : 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, FALSE, flags, environment.data(),
                          root.empty() ? nullptr : root.c_str(), &startup, &created))
        return;
    ::CloseHandle(created.hThread);
    ::CloseHandle(created.hProcess);
    WriteFileAtomic(kGrandchildFile, std::to_string(created.dwProcessId) + "\n");
}

} // namespace orvasim
