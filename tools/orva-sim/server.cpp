#include "server.h"

#include "datafiles.h"

#include "platform/fileops.h"
#include "system.h"

#include <charconv>
#include <filesystem>

namespace orvasim {

namespace {

bool IsDecimal(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

std::string Server::DefaultDir() {
    return DefaultServerDir();
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
    // Read and written through the locked handle: on Windows nobody else may open it meanwhile.
    vantrel::platform::File lock = LockFile(path, true);
    std::optional<std::string> text = lock.IsValid() ? ReadAll(lock) : std::nullopt;
    if (!text) {
        error = "cannot open " + path;
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
    if (!lock.Rewind() || !lock.WriteAll(next) || !lock.Truncate(next.size())) {
        error = "cannot update " + path;
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
        error = "cannot write " + incoming;
        return false;
    }
    for (unsigned copy = 1;; ++copy) {
        std::string target = copy == 1 ? base + ".orv" : base + "-" + std::to_string(copy) + ".orv";
        // A move that never replaces: a taken name stays as it is.
        if (vantrel::platform::MoveFile(incoming, target))
            return true;
        if (!PathExists(target)) {
            error = "cannot store " + target;
            RemoveFile(incoming);
            return false;
        }
        if (ReadWholeFile(target) == content) {
            RemoveFile(incoming);
            return true;
        }
    }
}

} // namespace orvasim
