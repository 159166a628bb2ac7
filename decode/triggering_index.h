// A channel's frame triggerings by identifier, so that finding the triggerings a frame
// matches costs a hash probe instead of a walk over every triggering of the channel. The
// index lists candidates in the channel's order; the decoder still applies the full
// matching rule to each, so it yields exactly what the walk over the list would. It also
// holds the program of each candidate's frame, which the decoder runs instead of walking.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "database.h"
#include "frame_program.h"
#include "identifier_slot.h"
#include "node_classes.h"

namespace vexo::decode {

// A triggering that may match, with its place in the channel's list (a triggering listed
// twice is two candidates), what the matching rule reads of it (a masked triggering's mask
// and code; the frame-type flags to compare, none for either form; its frame's length)
// and the program of its frame.
struct Candidate {
    uint32_t position;
    uint32_t program;  // kNoProgram without a frame (such a triggering never matches)
    uint32_t length;
    uint32_t flagsMask, flagsWant;
    uint32_t mask, code;  // masked triggerings; mask 0 and code 0 for the others
    const core::FrameTriggering *triggering;
};

struct TriggeringIndex : core::DerivedBlock {
    static constexpr uint64_t kNever = ~uint64_t(0);
    struct Slot {
        uint32_t identifier;
        uint32_t count;  // 0: a free slot
        uint32_t first;  // into byIdentifier
    };
    std::atomic<uint64_t> stamp{kNever};  // the database's change count it was built at
    std::vector<Slot> slots;              // open addressing, a power of two, at most half full
    std::vector<Candidate> byIdentifier;  // identifier triggerings, grouped, each group in list order
    std::vector<Candidate> masked;        // masked identifier triggerings, in list order
    Programs programs;                    // of the candidates' frames (no filter, no conversions)
    bool channelInstances = false;        // the channel has PDU instances of its own
};

// Builds (or builds again) a channel's index under the lock of derived data.
const TriggeringIndex *buildTriggeringIndex(const core::Channel &channel);

// The channel's index as of the model's current state, built now when the model changed
// since; null when memory for it cannot be had (the caller then walks the list). Safe to
// call from several threads that read one model.
inline const TriggeringIndex *triggeringIndexOf(const core::Channel &channel)
{
    const auto *index =
        static_cast<const TriggeringIndex *>(__atomic_load_n(&channel.triggeringIndex, __ATOMIC_ACQUIRE));
    if (index != nullptr && index->stamp.load(std::memory_order_acquire) == core::changesOf(channel.database))
        return index;
    return buildTriggeringIndex(channel);
}

// The identifier triggerings listed for an identifier, as [begin, end).
inline void candidatesFor(const TriggeringIndex &index, uint32_t identifier, const Candidate **begin,
                          const Candidate **end)
{
    *begin = *end = nullptr;
    if (index.slots.empty())
        return;
    const size_t mask = index.slots.size() - 1;
    for (size_t i = identifierSlot(identifier, mask);; i = (i + 1) & mask) {
        const TriggeringIndex::Slot &slot = index.slots[i];
        if (slot.count == 0)
            return;
        if (slot.identifier == identifier) {
            *begin = index.byIdentifier.data() + slot.first;
            *end = *begin + slot.count;
            return;
        }
    }
}

}  // namespace vexo::decode
