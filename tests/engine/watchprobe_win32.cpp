#include <windows.h>

#include "watchprobe.h"

namespace vantrel::test::watchertests {

std::optional<int> CountOwnWatches() {
    return std::nullopt;
}

struct CWriteRecorder::Impl {
    HANDLE dir = INVALID_HANDLE_VALUE;
    HANDLE done = nullptr;
    OVERLAPPED overlapped{};
    alignas(DWORD) char buffer[16384];

    bool Arm() {
        overlapped = {};
        overlapped.hEvent = done;
        return ::ReadDirectoryChangesW(dir, buffer, sizeof buffer, FALSE,
                                       FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE, nullptr,
                                       &overlapped, nullptr) != FALSE;
    }
};

CWriteRecorder::CWriteRecorder(const std::string& dir) : m_impl(std::make_unique<Impl>()) {
    m_impl->dir = ::CreateFileA(dir.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    m_impl->done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_impl->Arm();
}

CWriteRecorder::~CWriteRecorder() {
    ::CancelIoEx(m_impl->dir, &m_impl->overlapped);
    DWORD ignored = 0;
    ::GetOverlappedResult(m_impl->dir, &m_impl->overlapped, &ignored, TRUE);
    ::CloseHandle(m_impl->done);
    ::CloseHandle(m_impl->dir);
}

std::vector<std::string> CWriteRecorder::Names() {
    // Changes made since the last look wait in the system's queue for the directory; each
    // completed read hands over what came so far and is armed again.
    std::vector<std::string> names;
    DWORD got = 0;
    while (::GetOverlappedResult(m_impl->dir, &m_impl->overlapped, &got, FALSE) && got > 0) {
        for (DWORD at = 0;;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(m_impl->buffer + at);
            const std::wstring wide(info->FileName, info->FileNameLength / sizeof(wchar_t));
            names.emplace_back(wide.begin(), wide.end()); // the tests' names are ASCII
            if (info->NextEntryOffset == 0)
                break;
            at += info->NextEntryOffset;
        }
        ::ResetEvent(m_impl->done);
        if (!m_impl->Arm())
            break;
    }
    return names;
}

} // namespace vantrel::test::watchertests
