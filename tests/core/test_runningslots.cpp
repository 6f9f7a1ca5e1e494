// The slot table's claims: a runner frees and recognises only its own claim, also when its slot
// was cut away and claimed again for the same instance before the runner looked.
#include "core/runningslots.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(RunningSlots, AClaimIsItsOwnerEvenAgainstALaterClaimOfTheSameInstance) {
    CRunningSlots slots;
    slots.Resize(2);
    std::optional<SlotClaim> first = slots.ClaimLowestFree(4);
    std::optional<SlotClaim> second = slots.ClaimLowestFree(4);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->slot, 0u);
    EXPECT_EQ(second->slot, 1u);
    EXPECT_FALSE(slots.ClaimLowestFree(5)) << "every slot is busy";
    EXPECT_FALSE(slots.ClaimLowestFree(0)) << "0 is the free mark, no instance";
    EXPECT_TRUE(slots.Holds(*first));

    // The slots are cut away and given back, and a newcomer claims slot 0 for the same instance
    // before the first runner has looked: that runner neither owns it nor frees it.
    while (slots.Size() > 0)
        slots.RemoveLast();
    EXPECT_FALSE(slots.Holds(*first));
    slots.Resize(2);
    EXPECT_FALSE(slots.Holds(*first)) << "a slot given back is free, not the old claim's";
    std::optional<SlotClaim> newcomer = slots.ClaimLowestFree(4);
    ASSERT_TRUE(newcomer);
    EXPECT_EQ(newcomer->slot, 0u);
    EXPECT_FALSE(slots.Holds(*first));
    slots.Free(*first);
    slots.Free(*second);
    EXPECT_EQ(slots.Get(0), 4u) << "the newcomer's slot was freed by the runner it replaced";
    EXPECT_TRUE(slots.Holds(*newcomer));
    EXPECT_EQ(slots.CountBusy(), 1u);

    // Its own claim frees; a kill by title frees every slot of the instance whatever the claim.
    slots.Free(*newcomer);
    EXPECT_EQ(slots.Get(0), 0u);
    ASSERT_TRUE(slots.ClaimLowestFree(7));
    ASSERT_TRUE(slots.ClaimLowestFree(7));
    slots.FreeAllOf(7);
    EXPECT_EQ(slots.CountBusy(), 0u);
    EXPECT_FALSE(slots.Contains(7));
}

} // namespace
} // namespace vantrel
