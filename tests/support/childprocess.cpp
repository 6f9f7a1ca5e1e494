#include "support/childprocess.h"

#include <set>
#include <string_view>

namespace vantrel::test {

namespace {

std::string_view NameOf(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

} // namespace

std::vector<std::string> MergeEnvironmentEntries(std::vector<std::string> inherited,
                                                 const std::vector<std::string>& extra) {
    std::set<std::string_view> replaced;
    for (const std::string& entry : extra)
        replaced.insert(NameOf(entry));
    std::erase_if(inherited, [&](const std::string& entry) { return replaced.count(NameOf(entry)) != 0; });
    inherited.insert(inherited.end(), extra.begin(), extra.end());
    return inherited;
}

} // namespace vantrel::test
