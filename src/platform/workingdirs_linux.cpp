#include "platform/workingdirs.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <memory>

#include "platform/process_detail_linux.h"
#include "platform/uniquefd_linux.h"

namespace vantrel::platform {

std::vector<std::string> EntriesInUseAsWorkingDirectory(const std::string& dir) {
    std::vector<std::string> names;
    // The kernel shows a process's directory with every link resolved, so the prefix is too.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(dir.c_str(), nullptr), &std::free);
    DirPtr proc(::opendir("/proc"));
    if (!resolved || !proc)
        return names;
    std::string prefix = resolved.get();
    if (prefix != "/")
        prefix += '/';
    while (struct dirent* entry = ::readdir(proc.get())) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        std::optional<std::string> cwd = detail::ReadLinkPath(std::string("/proc/") + entry->d_name + "/cwd");
        if (!cwd || !cwd->starts_with(prefix) || cwd->size() == prefix.size())
            continue;
        std::string name = cwd->substr(prefix.size(), cwd->find('/', prefix.size()) - prefix.size());
        // A directory removed under its process shows as "NAME (deleted)": no entry of dir any more.
        if (cwd->find('/', prefix.size()) == std::string::npos && name.ends_with(" (deleted)"))
            continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

} // namespace vantrel::platform
