// Allocators for the object model: a shared heap allocator and a tracking allocator
// that records every block so a whole database is released in one sweep. Nothing is
// freed one by one before that; release through a tracking allocator does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vexo/types.h"

namespace vexo::core {

// Reads the first 32-bit word of a block (a class code or a magic) without assuming
// anything about the memory behind it.
inline uint32_t firstWord(const void *block)
{
    uint32_t word;
    std::memcpy(&word, block, sizeof word);
    return word;
}

// Two link words at the start of an element of a circular intrusive list.
struct ListLink {
    ListLink *prev;
    ListLink *next;
};

// Head of a circular intrusive list: last->next is first and first->prev is last.
struct IntrusiveList {
    ListLink *first;
    ListLink *last;
};

// Appends an element; an element already in a list (next link set) is refused with
// a message on standard output and the list stays as it was.
void addTail(IntrusiveList *list, ListLink *element);

struct Allocator;

struct AllocatorOps {
    void *(*allocate)(Allocator *allocator, size_t size);
    void (*release)(Allocator *allocator, void *block);
    void (*destroy)(Allocator *allocator);
};

struct Allocator {
    const AllocatorOps *ops;
    // Changes made through this allocator: every node it allocated and every entry a list
    // gained, moved or rewrote (see countChange). A database's count of model changes.
    uint64_t changes;
};

enum AllocatorKind : uint32_t {
    kHeapAllocator = 0,
    kTrackingAllocator = 2,
};

// Creates an allocator of a kind; the heap allocator is one shared instance.
// The out pointer is set to null first; an unknown kind gives E_INVALIDARG.
HRESULT createAllocator(uint32_t kind, uint32_t reserved, Allocator **out);

inline void *allocate(Allocator *allocator, size_t size) { return allocator->ops->allocate(allocator, size); }
inline void release(Allocator *allocator, void *block) { allocator->ops->release(allocator, block); }
inline void destroyAllocator(Allocator *allocator) { allocator->ops->destroy(allocator); }

// Counts one change of what the allocator's owner holds. The node and list primitives
// count their own changes; code that writes a field of a node counts it through the
// node's database (noteChange, database.h).
inline void countChange(Allocator *allocator) { allocator->changes += 1; }

// Allocates zero-filled memory from an allocator.
void *allocateZeroed(Allocator *allocator, size_t size);

struct TrackingStats {
    uint32_t blocks;  // blocks handed out
    uint32_t bytes;   // bytes taken from the heap, link words included
};

// Counters of a tracking allocator (zeros for any other kind).
TrackingStats trackingStats(const Allocator *allocator);

// Items that carry no owner field of their own (timings, segment and value-range records,
// string slots) are listed by the tracking allocator that made them, so that a link
// between two databases can be refused for them too. reserveOwnerless makes room for one
// more (E_OUTOFMEMORY, or E_INVALIDARG for an allocator of another kind); noteOwnerless
// then lists an item without failing. isOwnerlessOf answers in constant time.
HRESULT reserveOwnerless(Allocator *allocator);
void noteOwnerless(Allocator *allocator, const void *item);
bool isOwnerlessOf(const Allocator *allocator, const void *item);

// Test support (builds with VEXO_TEST_HOOKS): makes the n-th allocation from now fail
// (1 = the next one); 0 switches failures off. Counts every allocation of the tracking
// allocators, the tables behind them and whatever else asks allocationFails.
// Process-wide; meant for one thread.
#if VEXO_TEST_HOOKS
void failAllocationAfter(uint32_t n);

// True when the allocation about to be made is the one set to fail. An allocator of the
// library that is not a tracking allocator (a Lua state's, say) asks this first.
bool allocationFails();

// True while a failure is set (between failAllocationAfter(n > 0) and the failure).
bool allocationFailureArmed();
#else
inline bool allocationFails() { return false; }
inline bool allocationFailureArmed() { return false; }
#endif

}  // namespace vexo::core
