#include "platform/process_detail_win32.h"

#include "platform/process.h"

#include <cctype>
#include <cstdio>

namespace vantrel::platform {

namespace detail {

namespace {

// The working directory as one text for every way of writing it: full, "\" separated, lower case.
std::string DirectoryKey(const std::string& directory) {
    std::wstring wide = WidePath(directory);
    std::string key = Narrow(wide);
    for (char& c : key)
        c = c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (key.size() > 1 && key.back() == '\\')
        key.pop_back();
    return key;
}

// FNV-1a: a short, stable digest of the directory for the job's name (object names are short and
// may not hold "\").
std::uint64_t Digest(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

} // namespace

std::optional<std::string> ProcessImagePath(HANDLE process) {
    // The call cuts nothing: it fails when the name does not fit, so grow until it does.
    std::string image(MAX_PATH, '\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(image.size());
        if (::QueryFullProcessImageNameA(process, 0, image.data(), &length)) {
            image.resize(length);
            return image;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || image.size() >= 1u << 16)
            return std::nullopt;
        image.resize(image.size() * 2);
    }
}

bool IsClientProcess(HANDLE process) {
    std::optional<std::string> image = ProcessImagePath(process);
    if (!image)
        return false;
    for (char& c : *image)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return !image->ends_with("\\conhost.exe");
}

std::string ClientJobName(const std::string& title, const std::string& workingDirectory, int generation) {
    char digest[17];
    std::snprintf(digest, sizeof digest, "%016llx",
                  static_cast<unsigned long long>(Digest(DirectoryKey(workingDirectory))));
    std::string name = "Local\\Vantrel client " + std::string(digest) + " ";
    for (char c : title)
        name += c == '\\' ? '/' : c;
    return name + " #" + std::to_string(generation);
}

std::vector<DWORD> ProcessesInJob(HANDLE job) {
    // Room for more ids each time the list did not fit.
    for (DWORD room = 64; room <= 65536; room *= 4) {
        std::vector<unsigned char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + room * sizeof(ULONG_PTR));
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        if (!::QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, static_cast<DWORD>(buffer.size()),
                                         nullptr) &&
            ::GetLastError() != ERROR_MORE_DATA)
            return {};
        if (list->NumberOfProcessIdsInList < list->NumberOfAssignedProcesses)
            continue;
        std::vector<DWORD> ids;
        for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
            ids.push_back(static_cast<DWORD>(list->ProcessIdList[i]));
        return ids;
    }
    return {};
}

UniqueHandle OpenLiveProcess(DWORD pid) {
    UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION |
                                           PROCESS_SET_INFORMATION | PROCESS_VM_READ,
                                       FALSE, pid));
    if (!process.IsValid())
        process.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION |
                                        PROCESS_SET_INFORMATION,
                                    FALSE, pid));
    // Opened first, then confirmed running: the handle cannot name a process that took the id over.
    if (process.IsValid() && ::WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT)
        process.Reset();
    return process;
}

HANDLE DuplicateJob(HANDLE job) {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), job, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

} // namespace detail

std::vector<ProcessHandle> FindProcessesByTitle(const std::string& title, const std::string& workingDirectory) {
    std::vector<ProcessHandle> found;
    for (int generation = 0; generation < detail::kJobGenerations; ++generation) {
        std::string name = detail::ClientJobName(title, workingDirectory, generation);
        detail::UniqueHandle job(::OpenJobObjectA(JOB_OBJECT_QUERY | JOB_OBJECT_TERMINATE, FALSE, name.c_str()));
        if (!job.IsValid())
            continue;
        for (DWORD pid : detail::ProcessesInJob(job.Get())) {
            detail::UniqueHandle process = detail::OpenLiveProcess(pid);
            // The console's host may run in the client's job (under Wine it does): it is not a
            // client, nor is it one while it starts and has no program name yet.
            if (!process.IsValid() || !detail::IsClientProcess(process.Get()))
                continue;
            ProcessHandle handle = ProcessHandle::Adopt(WaitHandle{detail::HandleToInt(process.Release())},
                                                        static_cast<ProcessId>(pid), false);
            // Ending a found client ends its job's whole tree.
            handle.m_job = detail::HandleToInt(detail::DuplicateJob(job.Get()));
            found.push_back(std::move(handle));
        }
    }
    return found;
}

std::vector<std::vector<ProcessHandle>>
FindProcessesByTitles(const std::vector<std::pair<std::string, std::string>>& wanted) {
    std::vector<std::vector<ProcessHandle>> found;
    found.reserve(wanted.size());
    for (const auto& [title, directory] : wanted)
        found.push_back(FindProcessesByTitle(title, directory));
    return found;
}

std::uint64_t CountProcessListWalks() {
    // Clients are found through their named jobs; the list of all processes is never walked.
    return 0;
}

int RemoveLeftoverClientGroups() {
    // A job goes by itself once its processes and the handles to it have; nothing is left over.
    return 0;
}

} // namespace vantrel::platform
