#include "platform/detail_win32.h"

#include "platform/file.h"
#include "platform/fileops.h"

#include <algorithm>
#include <random>
#include <utility>

// Files through Win32 handles. An exclusive open is an open without sharing: nobody else may have
// the file open while it lives, and it fails while anyone does.
namespace vantrel::platform {

namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The largest piece one ReadFile or WriteFile call takes.
constexpr std::size_t kMaxPiece = 1u << 30;

} // namespace

void File::Close() {
    if (m_handle != kNoHandle)
        ::CloseHandle(AsHandle(std::exchange(m_handle, kNoHandle)));
}

File File::FromNativeHandle(std::intptr_t handle) {
    File file;
    file.m_handle = handle == 0 ? kNoHandle : handle;
    return file;
}

std::optional<std::size_t> File::Read(char* buffer, std::size_t size) {
    DWORD got = 0;
    if (!::ReadFile(AsHandle(m_handle), buffer, static_cast<DWORD>(std::min(size, kMaxPiece)), &got, nullptr))
        return ::GetLastError() == ERROR_HANDLE_EOF ? std::optional<std::size_t>(0) : std::nullopt;
    return static_cast<std::size_t>(got);
}

bool File::Rewind() {
    LARGE_INTEGER zero{};
    return ::SetFilePointerEx(AsHandle(m_handle), zero, nullptr, FILE_BEGIN) != 0;
}

bool File::WriteAll(std::string_view data) {
    if (!IsValid())
        return false;
    while (!data.empty()) {
        DWORD written = 0;
        if (!::WriteFile(AsHandle(m_handle), data.data(), static_cast<DWORD>(std::min(data.size(), kMaxPiece)),
                         &written, nullptr))
            return false;
        data.remove_prefix(written);
    }
    return true;
}

bool File::Truncate(std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(AsHandle(m_handle), FileEndOfFileInfo, &end, sizeof end) != 0;
}

bool File::ReplaceContents(std::string_view data) {
    return Truncate(0) && Rewind() && WriteAll(data);
}

bool File::Sync() {
    return ::FlushFileBuffers(AsHandle(m_handle)) != 0;
}

std::optional<std::uint64_t> File::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(AsHandle(m_handle), &size))
        return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool File::IsSameFileAs(const std::string& path) const {
    // A file deleted while we hold it open lingers under its name until the last handle goes; to
    // everyone else it has gone already.
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(AsHandle(m_handle), FileStandardInfo, &standard, sizeof standard) &&
        standard.DeletePending)
        return false;
    // Opened for no access at all, so neither a sharing mode nor a lock stands in the way.
    detail::UniqueHandle other(::CreateFileW(detail::WidePath(path).c_str(), 0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION atPath{};
    BY_HANDLE_FILE_INFORMATION opened{};
    return other.IsValid() && ::GetFileInformationByHandle(other.Get(), &atPath) &&
           ::GetFileInformationByHandle(AsHandle(m_handle), &opened) &&
           atPath.dwVolumeSerialNumber == opened.dwVolumeSerialNumber &&
           atPath.nFileIndexHigh == opened.nFileIndexHigh && atPath.nFileIndexLow == opened.nFileIndexLow;
}

bool File::CopyPermissionsFrom(const File& other) {
    // Files take their access rules from their folder; only the read-only attribute is their own.
    FILE_BASIC_INFO from{};
    FILE_BASIC_INFO to{};
    if (!::GetFileInformationByHandleEx(AsHandle(other.m_handle), FileBasicInfo, &from, sizeof from) ||
        !::GetFileInformationByHandleEx(AsHandle(m_handle), FileBasicInfo, &to, sizeof to))
        return false;
    to.FileAttributes = (to.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) |
                        (from.FileAttributes & FILE_ATTRIBUTE_READONLY);
    return ::SetFileInformationByHandle(AsHandle(m_handle), FileBasicInfo, &to, sizeof to) != 0;
}

bool OpenFileBlocksReplacement() {
    return true;
}

File OpenRegularFile(const std::string& path, const FileOpenOptions& options, bool& heldByOther) {
    heldByOther = false;
    DWORD access = options.append ? FILE_APPEND_DATA | GENERIC_READ
                                  : GENERIC_READ | (options.write ? GENERIC_WRITE : 0);
    // Others may read, write, rename and delete the file beside us, as on Linux; an exclusive
    // open shares nothing.
    DWORD share = options.exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = ::CreateFileW(detail::WidePath(path).c_str(), access, share, nullptr,
                                  options.create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        heldByOther = options.exclusive && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION);
        return {};
    }
    File file = File::FromNativeHandle(reinterpret_cast<std::intptr_t>(handle));
    // A directory, a pipe or a device under the name is not a file we open.
    if (::GetFileType(handle) != FILE_TYPE_DISK)
        return {};
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return file;
}

TempFile::TempFile(const std::string& target, std::string_view tag) {
    std::string prefix = JoinPath(DirectoryPart(target), "." + FileNamePart(target) + "." + std::string(tag) + "-");
    if (DirectoryPart(target).empty())
        prefix = prefix.substr(1); // a bare name stays in the current directory
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    // CREATE_NEW fails when the name is taken, so a name is never shared with another writer.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = prefix;
        for (int i = 0; i < 6; ++i)
            path += kLetters[pick(random)];
        HANDLE handle = ::CreateFileW(detail::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            m_file = File::FromNativeHandle(reinterpret_cast<std::intptr_t>(handle));
            m_strPath = std::move(path);
            return;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
}

TempFile::~TempFile() {
    m_file.Close();
    if (!m_strPath.empty())
        ::DeleteFileW(detail::WidePath(m_strPath).c_str());
}

bool TempFile::MoveTo(const std::string& path, bool replace) {
    if (m_strPath.empty())
        return false;
    m_file.Close();
    // MOVEFILE_REPLACE_EXISTING swaps the name over in one step on the same volume.
    bool moved = replace ? ::MoveFileExW(detail::WidePath(m_strPath).c_str(), detail::WidePath(path).c_str(),
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0
                         : MoveFile(m_strPath, path);
    if (moved)
        m_strPath.clear();
    return moved;
}

} // namespace vantrel::platform
