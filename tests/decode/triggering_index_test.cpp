// The decoder's triggering index against a plain walk over the channel's list (written
// here from the public getters): the same triggerings in the same order, for random
// networks whose triggerings are added, re-aimed and dropped between decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "identifier_slot.h"
#include "random_network.h"
#include "vexo/vexo.h"

namespace {

constexpr uint64_t kSeed = 20240613;

// The matching rule, applied to every triggering of the channel in list order.
std::vector<VexoNode *> walkedTriggerings(VexoNode *channel, const VexoFrame &frame)
{
    std::vector<VexoNode *> out;
    VexoEnumerator *list = nullptr;
    EXPECT_EQ(Vexo_enumFrameTriggerings(channel, &list), S_OK);
    VexoNode *triggering = nullptr;
    while (Vexo_enumeratorNext(list, 1, &triggering, nullptr) == S_OK) {
        uint32_t identifier = 0, code = 0, mask = 0, flags = 0, length = 0;
        VexoNode *frameNode = nullptr;
        const int32_t type = Vexo_getNodeType(triggering);
        if (type == Q3_NODETYPE_IdentifierBasedTriggering) {
            Vexo_getIdentifier(triggering, &identifier);
            if (identifier != frame.identifier)
                continue;
        } else if (type == Q3_NODETYPE_MaskedIdentifierTriggering) {
            Vexo_getIdentifierCode(triggering, &code);
            Vexo_getIdentifierMask(triggering, &mask);
            if ((mask & frame.identifier) != code)
                continue;
        } else {
            continue;
        }
        Vexo_getFlags(triggering, &flags);
        if ((flags & Q3_FLAGMASK_CAN_FRAMETYPE) != Q3_FLAG_CANSTD_OR_EXT && ((flags ^ frame.flags) & 1) != 0)
            continue;
        if (Vexo_getFrame(triggering, &frameNode) != S_OK || frameNode == nullptr
            || Vexo_getLength(frameNode, &length) != S_OK || length != frame.length)
            continue;
        out.push_back(triggering);
    }
    Vexo_enumeratorDestroy(list);
    return out;
}

std::vector<VexoNode *> decodedTriggerings(VexoNode *channel, const VexoFrame &frame)
{
    std::vector<VexoNode *> out;
    VexoDecodeState *state = nullptr;
    EXPECT_EQ(Vexo_decodeMessage(channel, frame.identifier, frame.flags, frame.length, frame.data, &state), S_OK);
    VexoNode *triggering = nullptr;
    while (Vexo_decodeNextFrametriggering(state, &triggering) == S_OK && triggering != nullptr) {
        out.push_back(triggering);
        triggering = nullptr;
    }
    Vexo_destroyDecodeEnum(state);
    return out;
}

}  // namespace

TEST(TriggeringIndex, FindsWhatTheWalkOverTheListFindsAcrossModelChanges)
{
    size_t matches = 0, several = 0;
    for (uint64_t n = 0; n < 200; ++n) {
        SCOPED_TRACE("seed=" + std::to_string(kSeed) + " network " + std::to_string(n));
        RandomNetwork net(kSeed + n);
        for (int round = 0; round < 12; ++round) {
            std::vector<std::vector<uint8_t>> bytes;
            for (const VexoFrame &frame : net.receive(40, bytes)) {
                const std::vector<VexoNode *> walked = walkedTriggerings(net.channel, frame);
                ASSERT_EQ(decodedTriggerings(net.channel, frame), walked) << "identifier " << frame.identifier;
                matches += walked.size();
                several += walked.size() > 1 ? 1 : 0;
            }
            net.change();
        }
    }
    EXPECT_GT(matches, 20000u);
    EXPECT_GT(several, 500u);  // identifiers shared by triggerings, masks, duplicates
}

// Identifiers numbered in fields (a sender in the low byte, a group or priority above)
// spread over a table sized as the index sizes it, with short probe runs.
TEST(TriggeringIndex, IdentifiersNumberedInFieldsSpreadOverTheTable)
{
    const struct {
        uint32_t count, stride, base;
    } families[] = {
        {2048, 1, 0},            // every standard identifier
        {512, 1u << 8, 0xFE},    // one sender, consecutive groups
        {512, 1u << 13, 0},      // low 13 bits zero
        {256, 1u << 16, 0x80},
        {500, 1u << 20, 0x17},   // only the top bits differ
    };
    for (const auto &family : families) {
        size_t capacity = 8;
        while (capacity < 2 * family.count)
            capacity *= 2;
        std::vector<bool> used(capacity);
        size_t longest = 0, total = 0;
        for (uint32_t i = 0; i < family.count; ++i) {
            size_t probes = 1;
            size_t slot = vexo::decode::identifierSlot((family.base + i * family.stride) & 0x1FFFFFFFu, capacity - 1);
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
