#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/fileops.h"
#include "platform/uniquefd.h"

namespace vantrel {

// An open file descriptor, closed when the object goes.
using CFileHandle = platform::UniqueFd;

// Opens an existing or (with O_CREAT in flags) new regular file. Anything that is not a regular
// file (a directory, a FIFO that would block, a device) counts as "cannot be opened".
// With exclusive set, the open stands for an open "without sharing": the file is flocked
// (LOCK_EX|LOCK_NB) for the life of the handle, and a file on which another process holds a
// flock or a POSIX/OFD record lock cannot be opened. The lock kinds do not see each other on a
// local file system, so both are checked.
CFileHandle OpenRegularFile(const std::string& path, int flags, bool exclusive, mode_t mode = 0666);

using platform::WriteAll;

} // namespace vantrel
