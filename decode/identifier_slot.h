// Open-addressed tables keyed by frame identifier (the triggering index and the batch
// plans) start their probes here.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace vexo::decode
