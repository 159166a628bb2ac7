// Open-addressed tables keyed by frame identifier (the triggering index and the batch
// plans) start their probes here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexo::decode {

// The first slot to probe for an identifier in a table of identifiers whose size is a
// power of two. The product's high bits are folded into its low ones: identifiers that
// differ only above their low bits (29-bit identifiers whose low byte or more is 0, as
// many networks number them) would otherwise all start at one slot and probe each other.
inline size_t identifierSlot(uint32_t identifier, size_t mask)
{
    const uint32_t h = identifier * 0x9E3779B1u;
    return (h ^ (h >> 16)) & mask;
}

}  // namespace vexo::decode
