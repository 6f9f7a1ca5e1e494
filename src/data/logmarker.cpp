#include "data/logmarker.h"

#include <string>

#include "core/cachestore.h"
#include "core/clientcontract.h"
#include "platform/fileops.h"

namespace vantrel {

namespace {
std::string MarkerPath(const CCacheStore& store, std::uint32_t n) {
    return platform::JoinPath(store.GetInstancePath(n), contract::kLogMarkerFile);
}
} // namespace

void SetLogMarker(const CCacheStore& store, std::uint32_t n, bool create) {
    std::string path = MarkerPath(store, n);
    if (create)
        platform::CreateEmptyFile(path);
    else if (platform::PathExists(path))
        platform::DeleteFile(path);
}

bool HasLogMarker(const CCacheStore& store, std::uint32_t n) {
    return platform::PathExists(MarkerPath(store, n));
}

} // namespace vantrel
