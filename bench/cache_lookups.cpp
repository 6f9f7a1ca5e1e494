// Runs one walk of the cache exactly once, so bench/print-figures can count its file-system
// look-ups under strace: the count of a walk less the count of "none", divided by the instances.
// Usage: cache_lookups make DIR COUNT     builds the bench cache in DIR
//        cache_lookups DIR OPERATION      none, count, counters, find or compact
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_cache_support.h"
#include "core/cachestore.h"
#include "core/runningslots.h"

int main(int argc, char** argv) {
    using namespace vantrel;
    if (argc == 4 && std::string(argv[1]) == "make") {
        bench::MakeBenchCache(argv[2], std::atoi(argv[3]));
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: cache_lookups make DIR COUNT | cache_lookups DIR none|count|counters|find|compact\n");
        return 2;
    }
    CRunningSlots slots;
    slots.Resize(4);
    CCacheStore store(argv[1], "vantrel", slots);
    const std::string operation = argv[2];
    if (operation == "count")
        std::printf("%u\n", store.CountInstances());
    else if (operation == "counters")
        std::printf("%u\n", CountCacheState(store, slots).CurrentCacheSize);
    else if (operation == "find")
        std::printf("%u\n", store.FindNextToProcess());
    else if (operation == "compact")
        store.CompactInstances();
    else if (operation != "none") {
        std::fprintf(stderr, "cache_lookups: unknown operation %s\n", operation.c_str());
        return 2;
    }
    return 0;
}
