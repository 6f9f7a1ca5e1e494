#include "platform/file.h"

#include <thread>
#include <utility>

// What every system's File shares: its handle moves, and goes with the object.
namespace vantrel::platform {

File::~File() {
    Close();
}

File::File(File&& other) noexcept : m_handle(std::exchange(other.m_handle, kNoHandle)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, kNoHandle);
    }
    return *this;
}

File OpenRegularFile(const std::string& path, const FileOpenOptions& options) {
    bool heldByOther = false;
    return OpenRegularFile(path, options, heldByOther);
}

File OpenRegularFileWaiting(const std::string& path, FileOpenOptions options, std::chrono::milliseconds patience) {
    options.exclusive = true;
    // The exclusive open never waits: poll until the holder lets go. Asking whether the file is
    // held would not do, as on Windows that question is itself an open that others then fail.
    auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        bool heldByOther = false;
        File file = OpenRegularFile(path, options, heldByOther);
        if (file.IsValid() || !heldByOther || std::chrono::steady_clock::now() > deadline)
            return file;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace vantrel::platform
