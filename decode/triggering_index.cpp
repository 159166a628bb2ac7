// Building a channel's triggering index: one pass over its frame triggerings, grouped by
// identifier with their places kept, and a hash table over the groups.
#include "triggering_index.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "enumerator.h"
#include "vexo/constants.h"

namespace vexo::decode {
namespace {

using core::FrameTriggering;
using core::IdentifierBasedTriggering;
using core::MaskedIdentifierTriggering;

void build(const core::Channel &channel, TriggeringIndex &index)
{
    index.slots.clear();
    index.byIdentifier.clear();
    index.masked.clear();
    index.programs = Programs{};
    index.channelInstances = core::count(&channel.PDUInstances) != 0;
    FrameCompiler compiler(index.programs, {});
    const auto candidate = [&](uint32_t position, const FrameTriggering *triggering) {
        Candidate made{position, kNoProgram, 0, 0, 0, 0, 0, triggering};
        if (const auto *frame = core::nodeAs<core::Frame>(triggering->reference)) {
            made.program = compiler.program(*frame);
            made.length = frame->length;
        }
        const bool either = (triggering->flags & Q3_FLAGMASK_CAN_FRAMETYPE) == Q3_FLAG_CANSTD_OR_EXT;
        made.flagsMask = either ? 0 : Q3_FLAG_CANEXTENDED;
        made.flagsWant = triggering->flags & Q3_FLAG_CANEXTENDED;
        return made;
    };
    std::vector<std::pair<uint32_t, Candidate>> byId;
    uint32_t position = 0;
    model::forEachNode(channel.frameTriggerings, [&](void *entry) {
        if (const auto *byIdentifier = core::nodeExactly<IdentifierBasedTriggering>(entry)) {
            byId.push_back({byIdentifier->identifier, candidate(position, byIdentifier)});
        } else if (const auto *masked = core::nodeExactly<MaskedIdentifierTriggering>(entry)) {
            Candidate made = candidate(position, masked);
            made.mask = masked->mask;
            made.code = masked->code;
            index.masked.push_back(made);
        }
        ++position;  // other classes never match, but count as places in the list
        return true;
    });
    buildIdentifierTable(byId, index.slots, index.byIdentifier);
}

}  // namespace

const TriggeringIndex *buildTriggeringIndex(const core::Channel &channel)
{
    const std::lock_guard<std::mutex> hold(core::derivedLock());
    const uint64_t now = core::changesOf(channel.database);
    auto *index = core::derivedBlockOf<TriggeringIndex>(channel.database, &channel.triggeringIndex);
    if (index == nullptr || index->stamp.load(std::memory_order_relaxed) == now)
        return index;
    try {
        build(channel, *index);
    } catch (const std::bad_alloc &) {
        index->stamp.store(TriggeringIndex::kNever, std::memory_order_release);
        return nullptr;
    }
    index->stamp.store(now, std::memory_order_release);
    return index;
}

}  // namespace vexo::decode
