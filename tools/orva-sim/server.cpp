#include "server.h"

#include "datafiles.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace orvasim {

namespace {

bool IsDecimal(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

std::string Server::DefaultDir() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    // Beside the executable, unless it is installed where the user may not write (/usr/libexec):
    // then in the user's data directory, where an installed Vantrel keeps its cache too.
    if (access(self.parent_path().c_str(), W_OK) == 0)
        return (self.parent_path() / "orva-server").string();
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        base = std::filesystem::path(home) / ".local/share";
    else
        return (self.parent_path() / "orva-server").string();
    return (base / "vantrel" / "orva-server").string();
}

bool Server::EnsureDir(const std::string& sub, std::string& error) const {
    std::error_code ec;
    std::filesystem::path dir = sub.empty() ? std::filesystem::path(m_dir) : std::filesystem::path(m_dir) / sub;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir, ec)) {
        error = "cannot create the server directory " + dir.string();
        return false;
    }
    return true;
}

bool Server::RecordRun(std::string_view line) const {
    std::string error;
    return EnsureDir({}, error) && AppendToFile(m_dir + "/" + kRunsLog, line);
}

bool Server::RecordMoved(std::string_view line) const {
    std::string error;
    return EnsureDir({}, error) && AppendToFile(m_dir + "/" + kMovedLog, line);
}

bool Server::IsUnreachable() const {
    return PathExists(m_dir + "/" + kUnreachableFile);
}

bool Server::HasNoWork() const {
    return PathExists(m_dir + "/" + kNoWorkFile);
}

std::optional<unsigned long> Server::AllocateWorkUnitNumber(std::string& error) const {
    if (!EnsureDir({}, error))
        return std::nullopt;
    std::string path = m_dir + "/" + kCounterFile;
    UniqueFd lock = LockFile(path, true);
    std::optional<std::string> text = lock.IsValid() ? ReadWholeFile(path) : std::nullopt;
    if (!text) {
        error = SystemError("cannot open " + path);
        return std::nullopt;
    }
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r'))
        text->pop_back();
    unsigned long last = 0;
    // A damaged counter is not restarted: numbers handed out before would come again.
    if (!text->empty() &&
        (!IsDecimal(*text) || std::from_chars(text->data(), text->data() + text->size(), last).ec != std::errc())) {
        error = path + " holds no count";
        return std::nullopt;
    }
    std::string next = std::to_string(last + 1) + "\n";
    // The counter only grows, so writing over the old text never leaves a shorter, torn number.
    if (::pwrite(lock.Get(), next.data(), next.size(), 0) != static_cast<ssize_t>(next.size()) ||
        ::ftruncate(lock.Get(), static_cast<off_t>(next.size())) != 0) {
        error = SystemError("cannot update " + path);
        return std::nullopt;
    }
    return last + 1;
}

bool Server::ReceiveResult(std::string_view content, const std::string& number, std::string& error) const {
    if (!EnsureDir(kReceivedDir, error))
        return false;
    std::string dir = m_dir + "/" + kReceivedDir + "/";
    std::string base = dir + (IsDecimal(number) ? "wu-" + number : std::string("unnumbered"));
    std::string incoming = dir + ".incoming-" + UniqueSuffix();
    if (!WriteFileAtomic(incoming, content)) {
        error = SystemError("cannot write " + incoming);
        return false;
    }
    for (unsigned copy = 1;; ++copy) {
        std::string target = copy == 1 ? base + ".orv" : base + "-" + std::to_string(copy) + ".orv";
        if (::renameat2(AT_FDCWD, incoming.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EEXIST) {
            error = SystemError("cannot store " + target);
            ::unlink(incoming.c_str());
            return false;
        }
        if (ReadWholeFile(target) == content) {
            ::unlink(incoming.c_str());
            return true;
        }
    }
}

} // namespace orvasim
