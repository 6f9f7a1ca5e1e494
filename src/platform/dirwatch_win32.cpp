#include "platform/detail_win32.h"

#include "platform/dirwatch.h"
#include "platform/wait.h"

// m_fd carries the change notification's handle, m_wd a handle on the directory itself, which
// tells whether the directory is still where it was. A directory's own removal or move need not
// wake its notification (Wine's does not), so a wait also looks again every second.
namespace vantrel::platform {

namespace {

// A file written (its last-write time), or a name made or moved in, as the Linux watch sees it.
constexpr DWORD kWatchFilter = FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME;

// How often a wait looks whether the directory is still there.
constexpr std::chrono::seconds kGoneCheck{1};

std::optional<BY_HANDLE_FILE_INFORMATION> InformationOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        return std::nullopt;
    return info;
}

detail::UniqueHandle OpenDirectory(const std::string& directory) {
    return detail::UniqueHandle(::CreateFileW(detail::WidePath(directory).c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Whether the directory the handle holds is still the one under its name (not deleted, not moved).
bool StillThere(HANDLE held, const std::string& directory) {
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(held, FileStandardInfo, &standard, sizeof standard) && standard.DeletePending)
        return false;
    detail::UniqueHandle now = OpenDirectory(directory);
    if (!now.IsValid())
        return false;
    auto a = InformationOf(held);
    auto b = InformationOf(now.Get());
    return a && b && a->dwVolumeSerialNumber == b->dwVolumeSerialNumber && a->nFileIndexHigh == b->nFileIndexHigh &&
           a->nFileIndexLow == b->nFileIndexLow;
}

} // namespace

DirWatch::~DirWatch() {
    Close();
}

bool DirWatch::Open(const std::string& directory) {
    Close();
    detail::UniqueHandle held = OpenDirectory(directory);
    if (!held.IsValid())
        return false;
    HANDLE change = ::FindFirstChangeNotificationW(detail::WidePath(directory).c_str(), FALSE, kWatchFilter);
    if (change == INVALID_HANDLE_VALUE)
        return false;
    m_fd = detail::HandleToInt(change);
    m_wd = detail::HandleToInt(held.Release());
    m_directory = directory;
    return true;
}

void DirWatch::Close() {
    if (m_fd >= 0)
        ::FindCloseChangeNotification(detail::IntToHandle(m_fd));
    if (m_wd >= 0)
        ::CloseHandle(detail::IntToHandle(m_wd));
    m_fd = -1;
    m_wd = -1;
    m_gone = false;
    m_directory.clear();
}

DirWatch::WaitResult DirWatch::Wait(const CEvent& stop) {
    if (m_fd < 0)
        return WaitResult::Failed;
    if (m_gone)
        return stop.IsSet() ? WaitResult::Stopped : WaitResult::Gone;
    for (;;) {
        // The stop event comes first: when both are ready, Stopped wins.
        int ready = WaitForAny({stop.Handle(), WaitHandle{m_fd}}, kGoneCheck);
        if (ready == 0)
            return WaitResult::Stopped;
        if (ready != 1 && ready != kWaitTimeout)
            return WaitResult::Failed;
        if (!StillThere(detail::IntToHandle(m_wd), m_directory)) {
            m_gone = true;
            return WaitResult::Gone;
        }
        if (ready == kWaitTimeout)
            continue;
        // Re-armed at once: the system gathers what happens meanwhile into the next wake.
        if (!::FindNextChangeNotification(detail::IntToHandle(m_fd)))
            return WaitResult::Failed;
        return WaitResult::Changed;
    }
}

} // namespace vantrel::platform
