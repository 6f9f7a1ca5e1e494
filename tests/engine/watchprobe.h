#pragma once
// What the system tells about the watches of a directory, for the watcher's tests; kept apart from
// the engine's headers so the Windows side can include <windows.h>.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::test::watchertests {

// How many directory watches this process holds; none where the system does not tell (Windows
// names no kind of handle for a change notification).
std::optional<int> CountOwnWatches();
// Whether this process holds count watches, or the system cannot say.
inline bool WatchesAre(int count) {
    const std::optional<int> held = CountOwnWatches();
    return !held || *held == count;
}

// The names whose writing finished in a directory, in the order the system reports them.
class CWriteRecorder {
public:
    explicit CWriteRecorder(const std::string& dir);
    ~CWriteRecorder();
    CWriteRecorder(const CWriteRecorder&) = delete;
    CWriteRecorder& operator=(const CWriteRecorder&) = delete;

    // The names written since the last call.
    std::vector<std::string> Names();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace vantrel::test::watchertests
