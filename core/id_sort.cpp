// Sorting a batch of interned identifiers: a multikey quicksort that partitions on four
// UTF-16 units at a time. Each record keeps its current four units beside it, so the
// partitioning runs over the records alone; an id's text is read again only when its
// range moves on to the next four units.
#include "id_sort.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "string_table.h"

namespace vexo::core {

namespace {

constexpr size_t kKeyUnits = 4;
constexpr size_t kInsertionBelow = 16;

// Units depth .. depth+3 of an id, the first in the highest bits, so that keys order as
// the units do. depth is a multiple of four no greater than the id's length: the padding
// of interned copies to whole 16-byte words keeps the read inside the copy.
uint64_t keyAt(const VexoChar *id, size_t depth)
{
    uint64_t x = 0;
    std::memcpy(&x, id + depth, sizeof x);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    x = (x >> 32) | (x << 32);
    x = ((x & 0xFFFF0000FFFF0000u) >> 16) | ((x & 0x0000FFFF0000FFFFu) << 16);
#endif
    return x;
}

// Whether a key holds its id's end: the units past the end are zeros, the last one too.
bool endsId(uint64_t key) { return (key & 0xFFFFu) == 0; }

// The records' order, for ids that agree on their first depth units and whose keys hold
// the four after them.
bool before(const SortedId &a, const SortedId &b, size_t depth)
{
    if (a.key != b.key)
        return a.key < b.key;
    if (a.id != b.id && !endsId(a.key)) {
        size_t common = 0;
        const int c = compareInternedFrom(a.id, b.id, depth + kKeyUnits, &common);
        if (c != 0)
            return c < 0;
    }
    return a.named < b.named;
}

void insertionSort(SortedId *a, size_t n, size_t depth)
{
    for (size_t i = 1; i < n; ++i) {
        const SortedId item = a[i];
        size_t j = i;
        for (; j > 0 && before(item, a[j - 1], depth); --j)
            a[j] = a[j - 1];
        a[j] = item;
    }
}

uint64_t medianOfThree(uint64_t a, uint64_t b, uint64_t c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// The depth past which the ids of a range, which agree on their units up to depth and the
// four after, have their next key worth sorting on: the units they all share, in whole
// keys. Ids under one frame share long stretches ("/signal/", a signal's name), which
// would otherwise be stepped over four units at a time.
size_t nextDepth(const SortedId *a, size_t n, size_t depth)
{
    const size_t from = depth + kKeyUnits;
    size_t shared = SIZE_MAX;
    for (size_t k = 1; k < n; ++k) {
        size_t common = 0;
        compareInternedFrom(a[0].id, a[k].id, from, &common);
        shared = std::min(shared, common);
        if (shared < from + kKeyUnits)
            return from;  // no key to step over
    }
    return shared & ~(kKeyUnits - 1);
}

// budget: how many more partitions deep the recursion may go before the range is left
// to a comparison sort (keys that keep splitting off few records).
void sortRange(SortedId *a, size_t n, size_t depth, int budget)
{
    while (n >= kInsertionBelow) {
        if (budget == 0) {
            std::sort(a, a + n, [depth](const SortedId &x, const SortedId &y) { return before(x, y, depth); });
            return;
        }
        const uint64_t pivot = medianOfThree(a[0].key, a[n / 2].key, a[n - 1].key);
        size_t lower = 0, i = 0, upper = n;  // [0, lower) below, [lower, i) equal, [upper, n) above
        while (i < upper) {
            const uint64_t key = a[i].key;
            if (key < pivot)
                std::swap(a[lower++], a[i++]);
            else if (key > pivot)
                std::swap(a[i], a[--upper]);
            else
                ++i;
        }
        sortRange(a, lower, depth, budget - 1);
        sortRange(a + upper, n - upper, depth, budget - 1);
        a += lower;
        n = upper - lower;
        if (endsId(pivot)) {  // one id throughout: the order it was named in
            std::sort(a, a + n, [](const SortedId &x, const SortedId &y) { return x.named < y.named; });
            return;
        }
        depth = nextDepth(a, n, depth);
        for (size_t k = 0; k < n; ++k)
            a[k].key = keyAt(a[k].id, depth);
    }
    insertionSort(a, n, depth);
}

}  // namespace

void sortInternedIds(SortedId *ids, size_t n, size_t shared)
{
    if (n < 2)
        return;
    const size_t depth = shared & ~(kKeyUnits - 1);
    for (size_t i = 0; i < n; ++i)
        ids[i].key = keyAt(ids[i].id, depth);
    int budget = 4;
    for (size_t m = n; m > 1; m /= 2)
        budget += 2;
    sortRange(ids, n, depth, budget);
}

}  // namespace vexo::core
