#pragma once

#include <string>

namespace vantrel::test {

// How many handles of this process are open on path. Linux counts them; Windows tells only
// whether any process holds the file open (1) or none does (0), which is what the tests ask.
int OwnHandlesOn(const std::string& path);

} // namespace vantrel::test
