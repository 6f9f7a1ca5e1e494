#include "core/options.h"

#include "platform/system.h"

namespace vantrel {

unsigned ProcessorCount() {
    // Initialised once, on first use, even when several threads ask at the same moment.
    static const unsigned count = platform::GetProcessorCount();
    return count;
}

} // namespace vantrel
