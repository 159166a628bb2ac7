// Sorting many interned identifiers at once (a whole import's), by ordinal comparison of
// their UTF-16 units, equal ids in the order they were named.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vexo/types.h"

namespace vexo::core {

// One identifier to sort and what it stands for; the sort moves the records.
struct SortedId {
    uint64_t key;        // the sort's own: four units of the id, the first highest
    const VexoChar *id;  // interned (zero-padded to whole 16-byte words)
    void *node;
    uint32_t named;  // the order the ids were named in: equal ids keep it
    uint32_t tag;    // the caller's
};

// Sorts n records by id, then by `named`, given that all ids share their first `shared`
// units. A multikey quicksort on four units at a time, kept beside each id so that most
// steps read no string; small ranges go by insertion, and a range that keeps splitting
// badly by a plain comparison sort.
void sortInternedIds(SortedId *ids, size_t n, size_t shared);

}  // namespace vexo::core
