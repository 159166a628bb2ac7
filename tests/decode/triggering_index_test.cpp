// The triggering index's hash: identifiers numbered in fields spread over the table. What
// the index finds is checked against a walk over the channel's list in frame_program_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "identifier_slot.h"

// Identifiers numbered in fields (sender low, group above) in a table sized as the index sizes it: short probe runs.
TEST(TriggeringIndex, IdentifiersNumberedInFieldsSpreadOverTheTable)
{
    const struct { uint32_t count, stride, base; } families[] = {
        {2048, 1, 0},            // every standard identifier
        {512, 1u << 8, 0xFE},    // one sender, consecutive groups
        {512, 1u << 13, 0},      // low 13 bits zero
        {256, 1u << 16, 0x80}, {500, 1u << 20, 0x17},  // the last: only the top bits differ
    };
    for (const auto &family : families) {
        size_t capacity = 8;
        while (capacity < 2 * family.count)
            capacity *= 2;
        std::vector<bool> used(capacity);
        size_t longest = 0, total = 0;
        for (uint32_t i = 0; i < family.count; ++i) {
            const uint32_t identifier = (family.base + i * family.stride) & 0x1FFFFFFFu;
            size_t probes = 1, slot = vexo::decode::identifierSlot(identifier, capacity - 1);
            for (; used[slot]; slot = (slot + 1) & (capacity - 1))
                ++probes;
            used[slot] = true;
            longest = std::max(longest, probes);
            total += probes;
        }
        SCOPED_TRACE("stride " + std::to_string(family.stride));
        EXPECT_LE(longest, 48u);  // one shared slot would give runs of `count`
        EXPECT_LT(static_cast<double>(total) / family.count, 2.0);
    }
}
