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
    if (create || platform::PathExists(MarkerPath(store, n)))
        store.SetInstanceFile(n, contract::kLogMarkerFile, create);
}

bool HasLogMarker(const CCacheStore& store, std::uint32_t n) {
    return platform::PathExists(MarkerPath(store, n));
}

} // namespace vantrel
