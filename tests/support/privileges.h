#pragma once

#include <cstdint>

namespace vantrel::test {

// While it lives, the calling thread may not override file permissions (root's CAP_DAC_OVERRIDE
// and CAP_DAC_READ_SEARCH are out of its effective set), so a file or directory of mode 000 is as
// closed to a test run as root as to an ordinary user. Changes nothing for an ordinary user.
// Capabilities belong to a thread: only the code on this thread is affected.
class PermissionsEnforced {
public:
    PermissionsEnforced();
    ~PermissionsEnforced();
    PermissionsEnforced(const PermissionsEnforced&) = delete;
    PermissionsEnforced& operator=(const PermissionsEnforced&) = delete;

private:
    bool m_bChanged = false;
    std::uint32_t m_effective[2] = {};
};

} // namespace vantrel::test
