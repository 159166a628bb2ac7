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
    std::stable_sort(byId.begin(), byId.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    size_t groups = 0;
    for (size_t i = 0; i < byId.size(); ++i)
        groups += i == 0 || byId[i].first != byId[i - 1].first ? 1 : 0;
    size_t capacity = 8;
    while (capacity < 2 * groups)
        capacity *= 2;
    index.slots.assign(capacity, TriggeringIndex::Slot{0, 0, 0});
    index.byIdentifier.reserve(byId.size());
    const size_t mask = capacity - 1;
    for (size_t i = 0; i < byId.size();) {
        const uint32_t identifier = byId[i].first;
        const auto first = static_cast<uint32_t>(index.byIdentifier.size());
        for (; i < byId.size() && byId[i].first == identifier; ++i)
            index.byIdentifier.push_back(byId[i].second);
        size_t slot = identifierSlot(identifier, mask);
        while (index.slots[slot].count != 0)
            slot = (slot + 1) & mask;
        index.slots[slot] = {identifier, static_cast<uint32_t>(index.byIdentifier.size()) - first, first};
    }
}

void releaseIndex(core::DerivedBlock *block) { delete static_cast<TriggeringIndex *>(block); }

}  // namespace

const TriggeringIndex *buildTriggeringIndex(const core::Channel &channel)
{
    core::Vexo *database = channel.database;
    auto *field = const_cast<core::DerivedBlock **>(&channel.triggeringIndex);
    const std::lock_guard<std::mutex> hold(core::derivedLock());
    const uint64_t now = core::changesOf(database);
    auto *index = static_cast<TriggeringIndex *>(__atomic_load_n(field, __ATOMIC_ACQUIRE));
    if (index == nullptr) {
        index = new (std::nothrow) TriggeringIndex;
        if (index == nullptr)
            return nullptr;
        index->release = releaseIndex;
        core::keepDerived(database, index);
        __atomic_store_n(field, index, __ATOMIC_RELEASE);
    } else if (index->stamp.load(std::memory_order_relaxed) == now) {
        return index;
    }
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
