#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace vantrel {

// A runner's hold on one slot: the slot and the word its claim wrote there. No other claim writes
// the same word, also not a later one of the same instance in the same slot.
struct SlotClaim {
    std::size_t slot = 0;
    std::uint64_t word = 0;
};

// The table of processing slots: entry k holds the instance whose client runs in slot k, 0 when
// the slot is free. Runners claim and free their own entry from their threads while others read
// the table, so every entry is an atomic word in storage that never moves; only the dialog's
// thread changes the size. Beside the instance each entry keeps the serial of its claim.
class CRunningSlots {
public:
    // The most slots the table can hold; MaxProcesses is clamped to it.
    static constexpr std::size_t kCapacity = 4096;

    std::size_t Size() const { return m_size.load(std::memory_order_acquire); }

    // Dialog's thread only. Growing appends free entries; shrinking drops entries from the top.
    void Resize(std::size_t size);

    // Removes the last slot and returns the instance it held (0 when free or when empty).
    // Dialog's thread only.
    std::uint32_t RemoveLast();

    std::uint32_t Get(std::size_t k) const;

    // Writes n into the lowest free slot below the size; the claim, or none when all are busy.
    std::optional<SlotClaim> ClaimLowestFree(std::uint32_t n);

    // Whether the claimed slot still lies in the table and still holds that claim. A slot cut away
    // and handed to a newcomer holds another claim, even one of the same instance.
    bool Holds(const SlotClaim& claim) const;

    // Frees the claimed slot if it still holds the claim, so a runner whose slot was cut away and
    // handed to another never frees the newcomer.
    void Free(const SlotClaim& claim);

    // Frees every slot that holds n.
    void FreeAllOf(std::uint32_t n);

    bool Contains(std::uint32_t n) const;
    unsigned CountBusy() const;

    // An instance resting after a client that ended at once without working: FindNextToProcess
    // passes it over until it is released. Holds of the same instance are counted.
    void HoldInstance(std::uint32_t n);
    void ReleaseInstance(std::uint32_t n);
    bool IsInstanceHeld(std::uint32_t n) const;

private:
    mutable std::mutex m_heldLock;
    std::vector<std::uint32_t> m_held;
    // The instance in the low half, the claim's serial in the high half; 0 when free.
    std::array<std::atomic<std::uint64_t>, kCapacity> m_entries{};
    std::atomic<std::size_t> m_size{0};
    std::atomic<std::uint64_t> m_nextSerial{1};
};

} // namespace vantrel
