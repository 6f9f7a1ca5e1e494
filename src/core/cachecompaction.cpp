#include <iterator>
#include <set>

#include "core/cachestore.h"
#include "platform/fileops.h"

namespace vantrel {

void CCacheStore::CompactInstances() {
    std::lock_guard lock(m_cs);

    // The numbers whose directories stay. A set rather than an array indexed by number, so one
    // directory with a huge number cannot make it huge.
    std::set<std::uint32_t> kept;
    for (const auto& entry : platform::ListDirectory(m_strProgramDir)) {
        if (!entry.isDirectory)
            continue;
        std::uint32_t k = InstanceNumberOf(entry.name);
        if (k == 0)
            continue;
        if (GetInstanceState(k) == IS_EMPTY)
            DeleteTree(platform::JoinPath(m_strProgramDir, entry.name));
        else
            kept.insert(k);
    }

    if (kept.empty()) {
        CreateInstance(1);
        return;
    }

    // Close gaps from the top: the highest unlocked directory moves into the lowest gap. Locked
    // directories (a client runs there) keep their numbers; the search for a source goes past them.
    for (std::uint32_t lo = 1; lo < *kept.rbegin(); ++lo) {
        if (kept.count(lo) != 0)
            continue;
        auto source = kept.end();
        for (auto it = kept.rbegin(); it != kept.rend() && *it > lo; ++it) {
            if (!IsInstanceLocked(*it)) {
                source = std::prev(it.base());
                break;
            }
        }
        if (source == kept.end())
            continue;
        // A failed rename still counts as done: the next count stops below the gap until a caller
        // creates it, and the next compaction tries again.
        platform::MoveFile(GetInstancePath(*source), GetInstancePath(lo));
        kept.erase(source);
        kept.insert(lo);
    }

    // Gaps above which only locked directories lie become empty instances.
    std::uint32_t highest = *kept.rbegin();
    for (std::uint32_t i = 1; i < highest; ++i)
        if (kept.count(i) == 0)
            CreateInstance(i);
}

} // namespace vantrel
