#include "tmpfs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/fileops.h"
#include "platform/uniquefd_linux.h"

namespace vantrel::soak {

namespace {
constexpr std::size_t kPage = 4096;
}

CTmpfsMount::CTmpfsMount(std::string dir, std::size_t bytes, unsigned inodes) : m_strDir(std::move(dir)) {
    if (::geteuid() != 0) {
        m_strError = "mounting a tmpfs needs root";
        return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",nr_inodes=" + std::to_string(inodes) + ",mode=0755";
    if (::mount("tmpfs", m_strDir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        m_strError = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        return;
    }
    m_bMounted = true;
}

CTmpfsMount::~CTmpfsMount() {
    if (m_bMounted && ::umount2(m_strDir.c_str(), 0) != 0)
        ::umount2(m_strDir.c_str(), MNT_DETACH);
}

CDiskFiller::CDiskFiller(std::string dir) : m_strDir(std::move(dir)) {
    platform::MakeDirectory(m_strDir);
}

CDiskFiller::~CDiskFiller() {
    FreeAll();
}

std::string CDiskFiller::NextName() {
    return platform::JoinPath(m_strDir, "fill-" + std::to_string(m_next++));
}

bool CDiskFiller::FillSpace() {
    const std::string page(kPage, 'x');
    for (;;) {
        std::string name = NextName();
        platform::UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.Get() < 0)
            return errno == ENOSPC;
        ssize_t written = ::write(fd.Get(), page.data(), page.size());
        if (written == static_cast<ssize_t>(page.size())) {
            m_pages.push_back(name);
            continue;
        }
        const bool full = written >= 0 || errno == ENOSPC;
        m_others.push_back(name);
        return full;
    }
}

bool CDiskFiller::FillNames() {
    for (;;) {
        std::string name = NextName();
        platform::UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.Get() < 0)
            return errno == ENOSPC;
        m_others.push_back(name);
    }
}

void CDiskFiller::FreePages(unsigned pages) {
    for (; pages > 0 && !m_pages.empty(); --pages) {
        platform::DeleteFile(m_pages.back());
        m_pages.pop_back();
    }
}

void CDiskFiller::FreeAll() {
    FreePages(static_cast<unsigned>(m_pages.size()));
    for (const std::string& name : m_others)
        platform::DeleteFile(name);
    m_others.clear();
}

unsigned long FreeBlocks(const std::string& path) {
    struct statvfs st {};
    return ::statvfs(path.c_str(), &st) == 0 ? st.f_bfree : 0;
}

std::vector<std::string> TemporaryFilesBeneath(const std::string& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(".") || name.find(".tmp") != std::string::npos ||
            name.find(".upgrade") != std::string::npos || name.find("XXXXXX") != std::string::npos)
            found.push_back(it->path().string());
    }
    return found;
}

} // namespace vantrel::soak
