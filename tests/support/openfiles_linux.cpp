#include "support/openfiles.h"

#include <filesystem>
#include <system_error>

namespace vantrel::test {

int OwnHandlesOn(const std::string& path) {
    int count = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code readEc;
        auto target = std::filesystem::read_symlink(entry.path(), readEc);
        if (!readEc && target == path)
            ++count;
    }
    return count;
}

} // namespace vantrel::test
