#pragma once

#include <string_view>

namespace vantrel::platform {

// Writes all of data to fd, resuming after partial writes and interruptions; false on an error.
bool WriteAll(int fd, std::string_view data);

} // namespace vantrel::platform
