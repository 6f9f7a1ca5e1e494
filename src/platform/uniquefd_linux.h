#pragma once

#include <dirent.h>
#include <memory>
#include <unistd.h>

namespace vantrel::platform {

// Owns one descriptor and closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int Release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
// Owns one open directory stream and closes it when it goes.
using DirPtr = std::unique_ptr<DIR, DirCloser>;

} // namespace vantrel::platform
