#pragma once

#include "platform/file.h"

namespace vantrel {

// An open regular file, closed when the object goes; see platform::OpenRegularFile for what an
// exclusive open means.
using CFileHandle = platform::File;
using platform::FileOpenOptions;
using platform::OpenRegularFile;

} // namespace vantrel
