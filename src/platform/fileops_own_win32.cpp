#include "platform/detail_win32.h"

#include <aclapi.h>
#include <sddl.h>

#include "platform/file.h"
#include "platform/fileops.h"

#include <memory>
#include <vector>

// Directories of this user's: owned by the user's account and, for a private one, with a
// protected access list that grants the owner alone. Reparse points (links, junctions) are
// never followed, so the checks apply to the directory itself.
namespace vantrel::platform {

namespace {

// The directory itself, opened without following a reparse point; empty for anything else.
detail::UniqueHandle OpenRealDirectory(const std::string& dir, DWORD access) {
    detail::UniqueHandle handle(::CreateFileW(detail::WidePath(dir).c_str(), access,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                              nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!handle.IsValid() || !::GetFileInformationByHandleEx(handle.Get(), FileAttributeTagInfo, &tag, sizeof tag) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return {};
    return handle;
}

struct LocalFreer {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

// Whether the open directory is owned by user and, with privateOnly, lets nobody else in.
bool IsOwnedBy(HANDLE dir, const std::vector<unsigned char>& user, bool privateOnly) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(dir, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                          nullptr, &dacl, nullptr, &raw) != ERROR_SUCCESS)
        return false;
    std::unique_ptr<void, LocalFreer> descriptor(raw);
    PSID self = const_cast<unsigned char*>(user.data());
    if (user.empty() || owner == nullptr || !::EqualSid(owner, self))
        return false;
    if (!privateOnly)
        return true;
    // No access list at all lets everyone in.
    if (dacl == nullptr)
        return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header)))
            return false;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        // The system itself may always enter, as root may on Linux; nobody else may.
        auto* sid = reinterpret_cast<PSID>(&allowed->SidStart);
        if (allowed->Mask != 0 && !::EqualSid(sid, self) && !::IsWellKnownSid(sid, WinLocalSystemSid))
            return false;
    }
    return true;
}

// Gives the directory a protected access list that grants the owner alone, inherited below.
bool NarrowToOwner(HANDLE dir, const std::vector<unsigned char>& user) {
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(const_cast<unsigned char*>(user.data()));
    PACL raw = nullptr;
    if (::SetEntriesInAclW(1, &access, nullptr, &raw) != ERROR_SUCCESS)
        return false;
    std::unique_ptr<void, LocalFreer> acl(raw);
    return ::SetSecurityInfo(dir, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, raw, nullptr) == ERROR_SUCCESS;
}

bool IsOwnDirectory(const std::string& dir) {
    detail::UniqueHandle handle = OpenRealDirectory(dir, READ_CONTROL);
    return handle.IsValid() && IsOwnedBy(handle.Get(), detail::CurrentUserSid(), false);
}

} // namespace

bool WriteFileInOwnDirectory(const std::string& dir, std::string_view name, std::string_view data, unsigned mode) {
    if (!IsDirectory(dir) && !PathExists(dir) && !MakePrivateDirectory(dir))
        return false;
    if (!IsOwnDirectory(dir))
        return false;
    // A new file renamed over the name replaces a link there instead of writing through it.
    TempFile temp(JoinPath(dir, name), "new");
    (void)mode; // the file takes its access rules from the directory
    return temp.IsOpen() && temp.Get().WriteAll(data) && temp.Get().Sync() &&
           temp.MoveTo(JoinPath(dir, name), true);
}

bool DeleteFileInOwnDirectory(const std::string& dir, std::string_view name) {
    if (!PathExists(dir))
        return true;
    if (!IsOwnDirectory(dir))
        return false;
    // DeleteFileW removes a link itself, never what it points to.
    const std::string path = JoinPath(dir, name);
    if (::DeleteFileW(detail::WidePath(path).c_str()))
        return true;
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsFileInOwnDirectory(const std::string& dir, std::string_view name) {
    return IsOwnDirectory(dir) && IsRegularFile(JoinPath(dir, name));
}

bool IsPrivateDirectory(const std::string& dir) {
    detail::UniqueHandle handle = OpenRealDirectory(dir, READ_CONTROL);
    return handle.IsValid() && IsOwnedBy(handle.Get(), detail::CurrentUserSid(), true);
}

bool MakePrivateDirectory(const std::string& dir) {
    if (!::CreateDirectoryW(detail::WidePath(dir).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    std::vector<unsigned char> user = detail::CurrentUserSid();
    detail::UniqueHandle handle = OpenRealDirectory(dir, READ_CONTROL | WRITE_DAC);
    if (!handle.IsValid() || !IsOwnedBy(handle.Get(), user, false))
        return false;
    return IsOwnedBy(handle.Get(), user, true) || NarrowToOwner(handle.Get(), user);
}

bool IsLocalSocket(const std::string& path) {
    // A Unix domain socket on Windows is a reparse point of its own tag.
    constexpr DWORD kAfUnixTag = 0x80000023;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(detail::WidePath(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && found.dwReserved0 == kAfUnixTag;
}

} // namespace vantrel::platform
