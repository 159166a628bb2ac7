// Open-addressed tables keyed by frame identifier (the triggering index and the batch
// plans) start their probes here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vexo::decode {

// The first slot to probe for an identifier in a table of identifiers whose size is a
// power of two. Every bit of the identifier is mixed into every bit of the slot:
// networks number their 29-bit identifiers in fields (a priority, a group number, a
// sender address), so that many of them differ in a few high bits alone and a plain
// multiplication would send them all to a few slots that then probe each other.
inline size_t identifierSlot(uint32_t identifier, size_t mask)
{
    uint32_t h = identifier;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h & mask;
}

// Fills an open-addressed table from (identifier, entry) pairs: entries in a stable order
// of identifier go to byIdentifier, and each identifier gets one slot {identifier, count,
// first} (count 0 marks a free slot) in a table at most half full; a slot's other
// members stay value-initialised.
template <class Slot, class Entry>
void buildIdentifierTable(std::vector<std::pair<uint32_t, Entry>> &byId, std::vector<Slot> &slots,
                          std::vector<Entry> &byIdentifier)
{
    std::stable_sort(byId.begin(), byId.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    size_t groups = 0;
    for (size_t i = 0; i < byId.size(); ++i)
        groups += i == 0 || byId[i].first != byId[i - 1].first ? 1 : 0;
    size_t capacity = 8;
    while (capacity < 2 * groups)
        capacity *= 2;
    slots.assign(capacity, Slot{});
    byIdentifier.reserve(byIdentifier.size() + byId.size());
    const size_t mask = capacity - 1;
    for (size_t i = 0; i < byId.size();) {
        const uint32_t identifier = byId[i].first;
        const auto first = static_cast<uint32_t>(byIdentifier.size());
        for (; i < byId.size() && byId[i].first == identifier; ++i)
            byIdentifier.push_back(byId[i].second);
        size_t slot = identifierSlot(identifier, mask);
        while (slots[slot].count != 0)
            slot = (slot + 1) & mask;
        Slot &taken = slots[slot];
        taken.identifier = identifier;
        taken.count = static_cast<uint32_t>(byIdentifier.size()) - first;
        taken.first = first;
    }
}

}  // namespace vexo::decode
