#include "platform/file.h"

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

} // namespace vantrel::platform
