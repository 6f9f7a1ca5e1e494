// libFuzzer harness: CompactInstances over a program directory made from the input. Every pair of
// bytes adds one entry: a number (mostly small, sometimes far off or beyond the cap) and what is
// there (an empty instance, a work unit, a result, a partial download, an instance in use, a
// file, a link to outside, a deep empty tree). Afterwards, and after a second compaction:
// - every work unit, result and partial download exists exactly once, in a numbered directory;
// - an instance in use (locked or claimed) keeps its number;
// - a file or link keeps its name, or is renamed aside whole to "N.stray...";
// - every instance that holds something and is not in use lies in the run 1..CountInstances;
// - nothing outside the program directory changes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "core/cachestore.h"
#include "core/runningslots.h"
#include "platform/fileops.h"
#include "platform/uniquefd_linux.h"

namespace {

using namespace vantrel;
namespace fs = vantrel::platform;

enum EntryKind : std::uint8_t { EK_EMPTY, EK_WORK_UNIT, EK_RESULT, EK_PARTIAL, EK_LOCKED, EK_CLAIMED,
                                EK_FILE, EK_LINK, EK_DEEP, EK_COUNT };

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_compaction: %s\n", what.c_str());
    std::abort();
}

void Write(const std::string& path, const std::string& text) {
    if (!fs::WriteFileAtomically(path, text))
        Fail("cannot write " + path);
}

std::uint32_t NumberFrom(std::uint8_t byte) {
    if (byte < 240)
        return 1 + byte % 16;
    if (byte < 250)
        return 20'000 + byte;
    return byte % 2 == 0 ? CCacheStore::kMaxInstanceNumber + 1 : 4'294'967'295u;
}

// Every token ("wu-3", "file-5", ...) found in the files of path and one level of directories
// below it, with where it was found.
void CollectTokens(const std::string& dir, std::multimap<std::string, std::string>& found) {
    for (const auto& entry : fs::ListDirectory(dir)) {
        std::string path = fs::JoinPath(dir, entry.name);
        if (entry.isDirectory) {
            for (const auto& inner : fs::ListDirectory(path))
                if (!inner.isDirectory)
                    if (auto text = fs::ReadFileText(fs::JoinPath(path, inner.name)); text && !text->empty())
                        found.emplace(*text, entry.name);
        } else if (auto text = fs::ReadFileText(path); text && !text->empty()) {
            found.emplace(*text, entry.name);
        }
    }
}

bool IsStrayNameOf(const std::string& name, std::uint32_t n) {
    return name.rfind(std::to_string(n) + ".stray", 0) == 0;
}

struct Expected {
    std::uint32_t n;
    EntryKind kind;
    std::string token;
};

void Check(const std::string& program, const std::string& outside, const CCacheStore& store,
           const std::vector<Expected>& entries) {
    std::multimap<std::string, std::string> found;
    CollectTokens(program, found);
    const unsigned count = store.CountInstances();
    for (const Expected& entry : entries) {
        if (entry.token.empty())
            continue;
        auto [first, last] = found.equal_range(entry.token);
        if (std::distance(first, last) != 1)
            Fail(entry.token + " found " + std::to_string(std::distance(first, last)) + " times");
        const std::string& where = first->second;
        const std::uint32_t at = CCacheStore::InstanceNumberOf(where);
        if (entry.n > CCacheStore::kMaxInstanceNumber) {
            // No instance at all: left exactly where it is.
            if (where != std::to_string(entry.n))
                Fail(entry.token + " beyond the cap moved to " + where);
            continue;
        }
        switch (entry.kind) {
        case EK_LOCKED:
        case EK_CLAIMED:
            if (at != entry.n)
                Fail(entry.token + " in use moved to " + where);
            break;
        case EK_FILE:
        case EK_LINK:
            if (where != std::to_string(entry.n) && !IsStrayNameOf(where, entry.n))
                Fail(entry.token + " renamed to " + where);
            break;
        default:
            if (at == 0 || at > count)
                Fail(entry.token + " left outside the run, in " + where);
            break;
        }
    }
    if (fs::ReadFileText(fs::JoinPath(outside, "precious")) != "outside" || fs::ListDirectory(outside).size() != 1)
        Fail("the directory outside changed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // In memory where the machine has it: the runs make and delete many directories.
    std::string pattern = std::string(fs::IsDirectory("/dev/shm") ? "/dev/shm" : "/tmp") + "/fuzz-compaction-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        Fail("mkdtemp");
    const std::string root = pattern;
    const std::string program = root + "/program";
    const std::string outside = root + "/outside";
    fs::MakeDirectory(program);
    fs::MakeDirectory(outside);
    Write(outside + "/precious", "outside");

    CRunningSlots slots;
    slots.Resize(CRunningSlots::kCapacity);
    CCacheStore store(program, "vantrel", slots);
    std::vector<Expected> entries;
    std::vector<fs::UniqueFd> locks;
    for (std::size_t i = 0; i + 1 < size && entries.size() < 40; i += 2) {
        const std::uint32_t n = NumberFrom(data[i]);
        const auto kind = static_cast<EntryKind>(data[i + 1] % EK_COUNT);
        const std::string path = store.GetInstancePath(n);
        if (fs::PathExists(path))
            continue;
        const std::string token = "token-" + std::to_string(entries.size());
        switch (kind) {
        case EK_FILE:
            Write(path, token);
            break;
        case EK_LINK:
            ::symlink(outside.c_str(), path.c_str());
            entries.push_back({n, kind, {}});
            continue;
        case EK_EMPTY:
        case EK_DEEP:
            fs::MakeDirectory(path);
            if (kind == EK_DEEP)
                for (std::string sub = path + "/d"; sub.size() < path.size() + 200; sub += "/d")
                    fs::MakeDirectory(sub);
            entries.push_back({n, kind, {}});
            continue;
        default:
            fs::MakeDirectory(path);
            Write(path + "/" + (kind == EK_RESULT ? "result.orv" : kind == EK_PARTIAL ? "wtemp.orv" : "work_unit.orv"),
                  token);
            if (kind == EK_LOCKED) {
                fs::UniqueFd lock(::open((path + "/lock.orv").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
                if (::flock(lock.Get(), LOCK_EX) != 0)
                    Fail("flock");
                locks.push_back(std::move(lock));
            }
            if (kind == EK_CLAIMED && !slots.ClaimLowestFree(n))
                Fail("no free slot");
            break;
        }
        entries.push_back({n, kind, token});
    }

    store.CompactInstances();
    Check(program, outside, store, entries);
    store.CompactInstances();
    Check(program, outside, store, entries);

    locks.clear();
    fs::DeleteTree(root);
    return 0;
}
