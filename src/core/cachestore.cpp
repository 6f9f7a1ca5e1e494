#include "core/cachestore.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <string_view>

#include "core/clientcontract.h"
#include "platform/filelock.h"
#include "platform/fileops.h"
#include "platform/process.h"

namespace vantrel {

namespace fs = platform;

namespace {

// A user_info.orv larger than this is not an account file; reading stops there.
constexpr std::size_t kMaxUserInfoBytes = 1u << 20;

std::string InstanceFile(const CCacheStore& store, std::uint32_t n, const char* name) {
    return fs::JoinPath(store.GetInstancePath(n), name);
}

// The value of a line that begins "NRESULTS=" (already upper-cased): leading blanks, then
// digits up to the first other character; no digits give 0. Clamped to the 32-bit range.
std::int32_t ParseResultCount(std::string_view rest) {
    std::size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t'))
        ++i;
    long long value = 0;
    for (; i < rest.size() && std::isdigit(static_cast<unsigned char>(rest[i])); ++i) {
        value = value * 10 + (rest[i] - '0');
        if (value > INT32_MAX)
            return INT32_MAX;
    }
    return static_cast<std::int32_t>(value);
}

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

CCacheStore::CCacheStore(std::string programDir, std::string ownFileName, const CRunningSlots& slots)
    : m_strProgramDir(WithoutTrailingSeparator(std::move(programDir))), m_strOwnFileName(std::move(ownFileName)),
      m_slots(slots) {}

std::string CCacheStore::GetInstancePath(std::uint32_t n) const {
    if (n == 0)
        return m_strProgramDir;
    return fs::JoinPath(m_strProgramDir, std::to_string(n));
}

InstanceState CCacheStore::GetInstanceState(std::uint32_t n) const {
    // A link is no instance: nothing is read, written or deleted through it.
    std::string path = GetInstancePath(n);
    if (!fs::IsDirectory(path))
        return IS_MISSING;
    return ClassifyContents(path);
}

InstanceState CCacheStore::ClassifyContents(const std::string& path) const {
    if (fs::PathExists(fs::JoinPath(path, contract::kWorkUnitFile)))
        return IS_WORK_UNIT;
    if (fs::PathExists(fs::JoinPath(path, contract::kResultFile)))
        return IS_RESULT;
    if (fs::PathExists(fs::JoinPath(path, contract::kPartialFile)))
        return IS_PARTIAL;
    return IS_EMPTY;
}

unsigned CCacheStore::CountInstances() const {
    std::lock_guard lock(m_cs);
    // Only a directory can hold the client's files. One listing of the program directory tells
    // which numbers are directories (links are not): a few directory reads where a look-up for
    // each instance took as many calls as there are instances.
    const std::vector<std::uint32_t> numbers = ListInstanceNumbers();
    unsigned run = 0;
    while (run < numbers.size() && numbers[run] == run + 1)
        ++run;
    return run;
}

unsigned CCacheStore::CountStopAfterSend() const {
    std::lock_guard lock(m_cs);
    unsigned count = 0;
    const unsigned instances = CountInstances();
    for (std::uint32_t n = 1; n <= instances; ++n)
        if (HasStopAfterSend(n))
            ++count;
    return count;
}

void CCacheStore::CreateInstance(std::uint32_t n) const {
    fs::MakeDirectory(GetInstancePath(n));
}

void CCacheStore::DeleteInstance(std::uint32_t n) const {
    DeleteTree(GetInstancePath(n));
}

void CCacheStore::DeleteTree(const std::string& path) {
    fs::DeleteTree(path);
}

bool CCacheStore::HasStopAfterSend(std::uint32_t n) const {
    return fs::PathExists(InstanceFile(*this, n, contract::kStopAfterSendFile));
}

void CCacheStore::SetStopAfterSend(std::uint32_t n, bool on) const {
    SetInstanceFile(n, contract::kStopAfterSendFile, on);
}

bool CCacheStore::SetInstanceFile(std::uint32_t n, const char* name, bool present) const {
    if (n == 0)
        return false;
    return fs::SetFileBeneath(m_strProgramDir, std::to_string(n) + "/" + name, present);
}

bool CCacheStore::IsInstanceLocked(std::uint32_t n) const {
    // A probe takes the lock for a moment, so two at once would each see the other as a client:
    // a pass would pass over a result while a count looked at the same instance.
    std::lock_guard lock(m_cs);
    // A lock file that cannot be probed counts as held: when in doubt, a client runs there.
    std::string lockFile = InstanceFile(*this, n, contract::kLockFile);
    if (!fs::PathExists(lockFile))
        return false;
    return fs::IsFileLockedByOther(lockFile);
}

bool CCacheStore::IsInstanceRunning(std::uint32_t n) const {
    return m_slots.Contains(n);
}

// Decimal digits written the way GetInstancePath writes them. Anything else ("0", "007", "12abc",
// "x1", above kMaxInstanceNumber) is no instance, so it is neither deleted nor counted as one.
std::uint32_t CCacheStore::InstanceNumberOf(const std::string& name) {
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), value);
    if (error != std::errc{} || end != name.data() + name.size() || value == 0 || name[0] == '0' ||
        value > kMaxInstanceNumber)
        return 0;
    return value;
}

std::vector<std::uint32_t> CCacheStore::ListInstanceNumbers() const {
    std::vector<std::uint32_t> numbers;
    for (const auto& entry : fs::ListDirectory(m_strProgramDir))
        if (std::uint32_t n = InstanceNumberOf(entry.name); entry.isDirectory && n != 0)
            numbers.push_back(n);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::uint32_t CCacheStore::FindNextToProcess() const {
    std::lock_guard lock(m_cs);
    std::uint32_t choice = 0;
    std::int64_t choiceTime = 0;
    // The run is counted once, under the same lock as the walk.
    const unsigned instances = CountInstances();
    for (std::uint32_t n = 1; n <= instances; ++n) {
        if (IsInstanceRunning(n) || m_slots.IsInstanceHeld(n))
            continue;
        // A work unit with a time is one that exists: the time is the state test too (what has
        // none, a link to nothing among them, is not waiting), one look-up where there were two.
        auto time = fs::LastWriteTime(InstanceFile(*this, n, contract::kWorkUnitFile));
        if (!time)
            continue;
        // The lock is probed only where it decides: an instance that would not be chosen anyway
        // costs no look at its lock file.
        if ((choice == 0 || *time < choiceTime) && !IsInstanceLocked(n)) {
            choice = n;
            choiceTime = *time;
        }
    }
    return choice;
}

std::string CCacheStore::GetClientPath() const {
    std::lock_guard lock(m_clientPathLock);
    return m_strClientPath;
}

void CCacheStore::SetClientPath(const std::string& path) {
    std::lock_guard lock(m_clientPathLock);
    m_strClientPath = path;
}

std::string CCacheStore::GetClientForInstance(std::uint32_t n) const {
    std::string oldClient = InstanceFile(*this, n, contract::kOldClientFile);
    if (fs::PathExists(oldClient))
        return oldClient;
    return GetClientPath();
}

void CCacheStore::InstallNewClient(const std::string& newPath) {
    std::string current = GetClientPath();
    // Choosing the installed client again changes nothing; replacing it with itself would
    // delete the only copy.
    if (fs::IsSameFile(newPath, current))
        return;

    // Work in progress goes on with the client it was begun with.
    unsigned count = CountInstances();
    for (std::uint32_t n = 1; n <= count; ++n) {
        auto size = fs::FileSize(InstanceFile(*this, n, contract::kStateFile));
        if (size && *size > 0)
            fs::CopyFile(current, InstanceFile(*this, n, contract::kOldClientFile), true);
    }

    // The new client is copied in before the old one goes, so a failed copy loses nothing.
    std::string target = fs::JoinPath(m_strProgramDir, fs::FileNamePart(newPath));
    if (!fs::CopyFile(newPath, target, false))
        return;
    // A client just downloaded lacks the execute bit, and every start would fail without it.
    platform::AllowOwnerToExecute(target);
    // Only our own copy is removed: a client chosen at start-up may be a file of the user's
    // anywhere else, which is not ours to delete.
    if (!current.empty() && current != target && fs::DirectoryPart(current) == m_strProgramDir)
        fs::DeleteFile(current);
    SetClientPath(target);
}

bool CCacheStore::CopyToProgramDir(std::uint32_t n, const std::string& name) const {
    return fs::CopyFile(InstanceFile(*this, n, name.c_str()), fs::JoinPath(m_strProgramDir, name), false);
}

bool CCacheStore::SupplyUserInfo(std::uint32_t n) const {
    // Only regular files count: a FIFO or device under the name is as good as no account file.
    std::string target = InstanceFile(*this, n, contract::kUserInfoFile);
    if (fs::IsRegularFile(target))
        return true;
    // The run is walked only as far as the first file: every client's start comes here, and an
    // account file is nearly always in the first instances of a large cache.
    for (std::uint32_t i = 1; fs::IsDirectory(GetInstancePath(i)); ++i) {
        if (i == n)
            continue;
        std::string source = InstanceFile(*this, i, contract::kUserInfoFile);
        if (fs::IsRegularFile(source)) {
            fs::CopyFile(source, target, true);
            return fs::IsRegularFile(target);
        }
    }
    return false;
}

std::int32_t CCacheStore::ReadResultCount(std::uint32_t n) const {
    auto text = fs::ReadFileText(InstanceFile(*this, n, contract::kUserInfoFile), kMaxUserInfoBytes);
    if (!text)
        return 0;
    constexpr std::string_view kKey = "NRESULTS=";
    std::string_view rest = *text;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.size() < kKey.size())
            continue;
        std::string head(line.substr(0, kKey.size()));
        for (char& c : head)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (head != kKey)
            continue;
        std::int32_t value = ParseResultCount(line.substr(kKey.size()));
        if (value != 0)
            return value;
    }
    return 0;
}

} // namespace vantrel
