#include <map>
#include <optional>
#include <set>

#include "core/cachestore.h"
#include "platform/fileops.h"
#include "platform/workingdirs.h"

namespace vantrel {

namespace {

// Attempts at a free name for one stray before it is left where it is.
constexpr int kStrayNameAttempts = 100;

// One compaction's view of the program directory. Sets of numbers rather than an array indexed
// by number, so the cost follows the entries present, however high their numbers.
class CCompaction {
public:
    explicit CCompaction(const CCacheStore& store) : m_store(store) {}

    void Run();
    std::map<std::uint32_t, InstanceState> TakeStates() { return std::move(m_states); }

private:
    std::string PathOf(std::uint32_t n) const { return m_store.GetInstancePath(n); }
    void ReadEntries();
    void CloseGaps();
    void BridgeToInstancesInUse(std::uint32_t next);
    // The highest instance above lo that may move; none when every one left is in use.
    std::optional<std::uint32_t> HighestMovable(std::uint32_t lo);
    bool IsInUse(std::uint32_t n);
    // Renames the stray at number n to "n.stray" (or "n.stray-2", ...), so the number is free.
    bool MoveStrayAside(std::uint32_t n);
    void CreateInstanceAt(std::uint32_t n);

    const CCacheStore& m_store;
    std::set<std::uint32_t> m_kept;       // instance directories that stay
    std::set<std::uint32_t> m_movable;    // of those, the ones not yet found in use
    std::set<std::uint32_t> m_strays;     // numbers held by anything but a usable directory
    std::size_t m_present = 0;            // instance directories found, empty ones too
    std::map<std::uint32_t, InstanceState> m_states; // of those kept, what each held
    std::optional<std::set<std::uint32_t>> m_workedIn; // read from /proc once, when first needed
};

void CCompaction::Run() {
    ReadEntries();
    CloseGaps();
}

bool CCompaction::IsInUse(std::uint32_t n) {
    if (m_store.IsInstanceRunning(n) || m_store.IsInstanceLocked(n))
        return true;
    // Linux lets a process's directory be renamed under it: a client that has not taken its lock
    // yet (or never does) must not find itself in another instance, or with no instance at all.
    if (!m_workedIn) {
        m_workedIn.emplace();
        for (const std::string& name : platform::EntriesInUseAsWorkingDirectory(m_store.GetProgramDir()))
            if (std::uint32_t k = CCacheStore::InstanceNumberOf(name); k != 0)
                m_workedIn->insert(k);
    }
    return m_workedIn->count(n) != 0;
}

void CCompaction::ReadEntries() {
    for (const auto& entry : platform::ListDirectory(m_store.GetProgramDir())) {
        std::uint32_t k = CCacheStore::InstanceNumberOf(entry.name);
        if (k == 0)
            continue;
        if (!entry.isDirectory) {
            m_strays.insert(k);
            continue;
        }
        ++m_present;
        const std::string path = PathOf(k);
        bool inUse = false;
        // The listing has told a directory from a link already.
        const InstanceState state = m_store.ClassifyContents(path);
        if (state == IS_EMPTY) {
            inUse = IsInUse(k);
            if (!inUse) {
                CCacheStore::DeleteTree(path);
                if (!platform::PathExists(path))
                    continue;
                // A directory we cannot look into shows as empty and cannot be deleted: it is no
                // use as an instance, and stays the user's.
                if (!platform::IsUsableDirectory(path)) {
                    m_strays.insert(k);
                    continue;
                }
            }
        }
        m_kept.insert(k);
        m_states[k] = state;
        if (!inUse)
            m_movable.insert(k);
    }
}

std::optional<std::uint32_t> CCompaction::HighestMovable(std::uint32_t lo) {
    while (!m_movable.empty() && *m_movable.rbegin() > lo) {
        std::uint32_t candidate = *m_movable.rbegin();
        if (!IsInUse(candidate))
            return candidate;
        m_movable.erase(candidate);
    }
    return std::nullopt;
}

// The highest movable instance moves into the lowest gap, one at a time; instances in use keep
// their numbers and the search for a source goes past them. Every step fills a gap, moves a stray
// aside or passes an entry, so the loop is as long as the entries present.
void CCompaction::CloseGaps() {
    std::uint32_t lo = 1;
    while (!m_kept.empty() && lo < *m_kept.rbegin()) {
        if (m_kept.count(lo) != 0) {
            ++lo;
            continue;
        }
        std::optional<std::uint32_t> source = HighestMovable(lo);
        if (!source)
            break;
        if (m_strays.count(lo) != 0 && !MoveStrayAside(lo)) {
            ++lo; // stepped over: it stays, and the run ends below it until it is gone
            continue;
        }
        m_movable.erase(*source);
        if (platform::MoveFile(PathOf(*source), PathOf(lo))) {
            m_kept.erase(*source);
            m_kept.insert(lo);
            m_states[lo] = m_states[*source];
            m_states.erase(*source);
            ++lo;
        }
        // A source that cannot be renamed stays where it is; the next one is tried for this gap.
    }
    BridgeToInstancesInUse(lo);
}

// Gaps below instances in use become empty instances, so the run reaches them again, as long as
// that makes no more directories than there were instances: a far-off number in use stays outside
// the run until it is free and a later compaction moves it down.
void CCompaction::BridgeToInstancesInUse(std::uint32_t next) {
    std::size_t budget = m_present;
    for (auto it = m_kept.lower_bound(next); it != m_kept.end(); ++it) {
        std::uint64_t gap = *it - next;
        if (gap > budget)
            break;
        for (std::uint32_t i = next; i < *it; ++i)
            CreateInstanceAt(i);
        budget -= gap;
        next = *it + 1;
    }
    // A cache always has its first instance.
    if (next == 1 && m_kept.count(1) == 0)
        CreateInstanceAt(1);
}

bool CCompaction::MoveStrayAside(std::uint32_t n) {
    const std::string path = PathOf(n);
    for (int attempt = 1; attempt <= kStrayNameAttempts; ++attempt) {
        std::string aside = path + ".stray" + (attempt == 1 ? "" : "-" + std::to_string(attempt));
        if (platform::MoveFile(path, aside)) {
            m_strays.erase(n);
            return true;
        }
        if (!platform::PathExists(aside))
            return false; // not for want of a free name
    }
    return false;
}

void CCompaction::CreateInstanceAt(std::uint32_t n) {
    if (m_strays.count(n) != 0)
        MoveStrayAside(n);
    m_store.CreateInstance(n);
}

} // namespace

std::map<std::uint32_t, InstanceState> CCacheStore::CompactInstances() {
    std::lock_guard lock(m_cs);
    CCompaction compaction(*this);
    compaction.Run();
    return compaction.TakeStates();
}

} // namespace vantrel
