#include "core/runningslots.h"

#include <algorithm>

namespace vantrel {

namespace {

std::uint32_t InstanceOf(std::uint64_t word) {
    return static_cast<std::uint32_t>(word);
}

} // namespace

void CRunningSlots::Resize(std::size_t size) {
    size = std::min(size, kCapacity);
    std::size_t old = Size();
    // New entries are cleared before they become visible; dropped ones are cleared after, so a
    // later growth starts them free.
    for (std::size_t k = old; k < size; ++k)
        m_entries[k].store(0, std::memory_order_relaxed);
    m_size.store(size, std::memory_order_release);
    for (std::size_t k = size; k < old; ++k)
        m_entries[k].store(0, std::memory_order_relaxed);
}

std::uint32_t CRunningSlots::RemoveLast() {
    std::size_t size = Size();
    if (size == 0)
        return 0;
    std::uint32_t held = InstanceOf(m_entries[size - 1].load(std::memory_order_acquire));
    Resize(size - 1);
    return held;
}

std::uint32_t CRunningSlots::Get(std::size_t k) const {
    if (k >= kCapacity)
        return 0;
    return InstanceOf(m_entries[k].load(std::memory_order_acquire));
}

std::optional<SlotClaim> CRunningSlots::ClaimLowestFree(std::uint32_t n) {
    if (n == 0)
        return std::nullopt;
    const std::uint64_t word = m_nextSerial.fetch_add(1, std::memory_order_relaxed) << 32 | n;
    std::size_t size = Size();
    for (std::size_t k = 0; k < size; ++k) {
        std::uint64_t expected = 0;
        if (m_entries[k].compare_exchange_strong(expected, word, std::memory_order_acq_rel))
            return SlotClaim{k, word};
    }
    return std::nullopt;
}

bool CRunningSlots::Holds(const SlotClaim& claim) const {
    return claim.slot < Size() && m_entries[claim.slot].load(std::memory_order_acquire) == claim.word;
}

void CRunningSlots::Free(const SlotClaim& claim) {
    if (claim.slot >= Size())
        return;
    std::uint64_t expected = claim.word;
    m_entries[claim.slot].compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
}

void CRunningSlots::FreeAllOf(std::uint32_t n) {
    std::size_t size = Size();
    for (std::size_t k = 0; k < size; ++k) {
        std::uint64_t word = m_entries[k].load(std::memory_order_acquire);
        while (word != 0 && InstanceOf(word) == n &&
               !m_entries[k].compare_exchange_weak(word, 0, std::memory_order_acq_rel)) {
        }
    }
}

bool CRunningSlots::Contains(std::uint32_t n) const {
    std::size_t size = Size();
    for (std::size_t k = 0; k < size; ++k)
        if (Get(k) == n)
            return true;
    return false;
}

unsigned CRunningSlots::CountBusy() const {
    unsigned busy = 0;
    std::size_t size = Size();
    for (std::size_t k = 0; k < size; ++k)
        if (Get(k) != 0)
            ++busy;
    return busy;
}

void CRunningSlots::HoldInstance(std::uint32_t n) {
    std::lock_guard lock(m_heldLock);
    m_held.push_back(n);
}

void CRunningSlots::ReleaseInstance(std::uint32_t n) {
    std::lock_guard lock(m_heldLock);
    if (auto it = std::find(m_held.begin(), m_held.end(), n); it != m_held.end())
        m_held.erase(it);
}

bool CRunningSlots::IsInstanceHeld(std::uint32_t n) const {
    std::lock_guard lock(m_heldLock);
    return std::find(m_held.begin(), m_held.end(), n) != m_held.end();
}

} // namespace vantrel
