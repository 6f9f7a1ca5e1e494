#include "support/privileges.h"

#include <linux/capability.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

namespace vantrel::test {

namespace {

constexpr std::uint32_t kOverrideBits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool GetCapabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool SetCapabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

PermissionsEnforced::PermissionsEnforced() {
    __user_cap_data_struct data[2] = {};
    if (!GetCapabilities(data))
        throw std::runtime_error("capget failed");
    m_effective[0] = data[0].effective;
    m_effective[1] = data[1].effective;
    if ((data[0].effective & kOverrideBits) == 0)
        return;
    data[0].effective &= ~kOverrideBits;
    if (!SetCapabilities(data))
        throw std::runtime_error("capset failed");
    m_bChanged = true;
}

PermissionsEnforced::~PermissionsEnforced() {
    if (!m_bChanged)
        return;
    __user_cap_data_struct data[2] = {};
    if (GetCapabilities(data)) {
        data[0].effective = m_effective[0];
        data[1].effective = m_effective[1];
        SetCapabilities(data);
    }
}

} // namespace vantrel::test
