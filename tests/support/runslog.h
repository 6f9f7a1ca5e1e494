#pragma once

#include <map>
#include <string>

namespace vantrel::test {

// The fields of one line of the simulated client's runs.log (tab-separated NAME=value), by
// name, with the escapes of the values undone (a Windows path has its backslashes back); "args"
// stays as written, its words escaped one by one so that blanks still part them.
std::map<std::string, std::string> RunsLogFields(const std::string& line);

} // namespace vantrel::test
