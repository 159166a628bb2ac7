// The heap and tracking allocators, the intrusive list that chains tracked blocks, and
// the per-allocator set of ownerless items (an open-addressing table of addresses).
#include "allocator.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sanitizers.h"
#include "vexo/core.h"
#include "vexo/testing.h"

namespace vexo::core {

void addTail(IntrusiveList *list, ListLink *element)
{
    if (element->next != nullptr) {
        std::printf("%s: ", "error");
        std::printf("addTail() not executed, object already in the collection=%p\n", static_cast<void *>(element));
        return;
    }
    if (list->first == nullptr) {
        list->first = list->last = element;
        element->prev = element->next = element;
        return;
    }
    element->prev = list->last;
    element->next = list->first;
    list->first->prev = element;
    list->last->next = element;
    list->last = element;
}

namespace {

void *heapAllocate(Allocator *, size_t size) { return std::malloc(size); }
void heapRelease(Allocator *, void *block) { std::free(block); }
void heapDestroy(Allocator *) {}

const AllocatorOps kHeapOps = {heapAllocate, heapRelease, heapDestroy};
Allocator heapAllocator = {&kHeapOps, 0};

// Addresses, hashed; 0 marks a free cell. Never more than half full.
struct AddressSet {
    uintptr_t *cells;
    size_t capacity;  // a power of two, or 0
    size_t count;
};

struct TrackingAllocator {
    Allocator base;
    uint32_t blocks;
    uint32_t bytes;
    IntrusiveList list;    // blocks of their own
    IntrusiveList arenas;  // arenas that small requests are cut from
    AddressSet ownerless;
    // The arena being filled: small requests are cut from it, bigger ones get a heap
    // block of their own.
    unsigned char *next;
    unsigned char *end;
};

#if VEXO_TEST_HOOKS
std::atomic<uint32_t> failCountdown{0};
#endif

size_t cellOf(const AddressSet &set, uintptr_t address)
{
    // Blocks are 16-byte aligned and records at least 4 bytes apart: mix before masking.
    return static_cast<size_t>((address >> 2) * 0x9E3779B97F4A7C15ull) & (set.capacity - 1);
}

void placeAddress(AddressSet &set, uintptr_t address)
{
    size_t i = cellOf(set, address);
    while (set.cells[i] != 0 && set.cells[i] != address)
        i = (i + 1) & (set.capacity - 1);
    if (set.cells[i] == 0) {
        set.cells[i] = address;
        set.count += 1;
    }
}

// Tracked blocks start with their list links; what follows keeps the heap's 16-byte
// alignment.
constexpr size_t kHeader = sizeof(ListLink) < 16 ? 16 : sizeof(ListLink);
// Requests up to kLargest bytes are cut, 16-byte aligned, from arenas of kArenaBytes;
// a database of thousands of elements then costs few heap blocks and no per-element
// heap overhead. Sanitizer builds give every request a heap block of its own, so that
// an overrun from one element into the next is still caught.
constexpr size_t kLargest = kAddressSanitizer ? 0 : 1024;
constexpr size_t kArenaBytes = 64 * 1024 - kHeader - 64;

// Arenas of destroyed tracking allocators, kept for the next ones, process-wide: a program
// that makes a database again mostly needs as much memory again. Handed back to the heap,
// a whole database's arenas tend to end up at its top, which the heap then gives back to
// the system, and touching fresh pages is slow (on a virtual machine a page can cost some
// fifteen microseconds; a large import's arenas are some 800 pages). At most kKeptArenas
// (16 MiB) are kept.
constexpr size_t kKeptArenas = 256;
struct KeptArenas {
    std::mutex lock;
    size_t count = 0;
    void *blocks[kKeptArenas] = {};
};
// Initialized before any code runs (every member has a constant initializer) and trivially
// destructible, so code that runs before main or at exit may use it too.
KeptArenas keptArenas;

// A heap block of size bytes (after the links), chained into one of the allocator's
// lists; an arena comes from the kept ones when there are some.
unsigned char *trackedBlock(TrackingAllocator *self, size_t size, IntrusiveList *list)
{
    void *block = nullptr;
    if (list == &self->arenas) {
        std::lock_guard<std::mutex> hold(keptArenas.lock);
        if (keptArenas.count > 0)
            block = keptArenas.blocks[--keptArenas.count];
    }
    if (block == nullptr && (block = std::malloc(size + kHeader)) == nullptr)
        return nullptr;
    auto *link = static_cast<ListLink *>(block);
    link->prev = link->next = nullptr;
    self->bytes += static_cast<uint32_t>(size + kHeader);
    addTail(list, link);
    return static_cast<unsigned char *>(block) + kHeader;
}

// Frees the blocks of a list, keeping arenas while there is room for them.
void releaseBlocks(IntrusiveList *list, bool keep)
{
    ListLink *link = list->first;
    if (link == nullptr)
        return;
    list->last->next = nullptr;  // open the ring so the walk ends
    if (keep) {
        std::lock_guard<std::mutex> hold(keptArenas.lock);
        for (; link != nullptr && keptArenas.count < kKeptArenas; link = link->next)
            keptArenas.blocks[keptArenas.count++] = link;
    }
    while (link != nullptr) {
        ListLink *next = link->next;
        std::free(link);
        link = next;
    }
    list->first = list->last = nullptr;
}

void *trackingAllocate(Allocator *allocator, size_t size)
{
    if (allocationFails())
        return nullptr;
    auto *self = reinterpret_cast<TrackingAllocator *>(allocator);
    const size_t rounded = (size + 15) & ~size_t{15};
    if (rounded == 0 || rounded > kLargest) {
        unsigned char *block = trackedBlock(self, size, &self->list);
        if (block != nullptr)
            self->blocks += 1;
        return block;
    }
    if (static_cast<size_t>(self->end - self->next) < rounded) {
        unsigned char *arena = trackedBlock(self, kArenaBytes, &self->arenas);
        if (arena == nullptr)
            return nullptr;
        self->next = arena;
        self->end = arena + kArenaBytes;
    }
    void *result = self->next;
    self->next += rounded;
    self->blocks += 1;
    return result;
}

void trackingRelease(Allocator *, void *) {}

void trackingDestroy(Allocator *allocator)
{
    auto *self = reinterpret_cast<TrackingAllocator *>(allocator);
    releaseBlocks(&self->list, false);
    releaseBlocks(&self->arenas, true);
    std::free(self->ownerless.cells);
    std::free(self);
}

const AllocatorOps kTrackingOps = {trackingAllocate, trackingRelease, trackingDestroy};

}  // namespace

HRESULT createAllocator(uint32_t kind, uint32_t, Allocator **out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    *out = nullptr;
    switch (kind) {
    case kHeapAllocator:
        *out = &heapAllocator;
        return S_OK;
    case kTrackingAllocator: {
        auto *self = static_cast<TrackingAllocator *>(std::calloc(1, sizeof(TrackingAllocator)));
        if (self == nullptr)
            return E_OUTOFMEMORY;
        self->base.ops = &kTrackingOps;
        *out = &self->base;
        return S_OK;
    }
    default:
        return E_INVALIDARG;
    }
}

void *allocateZeroed(Allocator *allocator, size_t size)
{
    void *block = allocate(allocator, size);
    if (block != nullptr)
        std::memset(block, 0, size);
    return block;
}

TrackingStats trackingStats(const Allocator *allocator)
{
    if (allocator == nullptr || allocator->ops != &kTrackingOps)
        return {0, 0};
    const auto *self = reinterpret_cast<const TrackingAllocator *>(allocator);
    return {self->blocks, self->bytes};
}

HRESULT reserveOwnerless(Allocator *allocator)
{
    if (allocator == nullptr || allocator->ops != &kTrackingOps)
        return E_INVALIDARG;
    AddressSet &set = reinterpret_cast<TrackingAllocator *>(allocator)->ownerless;
    if (2 * (set.count + 1) <= set.capacity)
        return S_OK;
    const size_t capacity = set.capacity == 0 ? 64 : 2 * set.capacity;
    if (allocationFails())
        return E_OUTOFMEMORY;
    auto *cells = static_cast<uintptr_t *>(std::calloc(capacity, sizeof(uintptr_t)));
    if (cells == nullptr)
        return E_OUTOFMEMORY;
    AddressSet grown = {cells, capacity, 0};
    for (size_t i = 0; i < set.capacity; ++i) {
        if (set.cells[i] != 0)
            placeAddress(grown, set.cells[i]);
    }
    std::free(set.cells);
    set = grown;
    return S_OK;
}

void noteOwnerless(Allocator *allocator, const void *item)
{
    AddressSet &set = reinterpret_cast<TrackingAllocator *>(allocator)->ownerless;
    if (item != nullptr && 2 * (set.count + 1) <= set.capacity)
        placeAddress(set, reinterpret_cast<uintptr_t>(item));
}

bool isOwnerlessOf(const Allocator *allocator, const void *item)
{
    if (allocator == nullptr || allocator->ops != &kTrackingOps || item == nullptr)
        return false;
    const AddressSet &set = reinterpret_cast<const TrackingAllocator *>(allocator)->ownerless;
    if (set.capacity == 0)
        return false;
    const auto address = reinterpret_cast<uintptr_t>(item);
    for (size_t i = cellOf(set, address); set.cells[i] != 0; i = (i + 1) & (set.capacity - 1)) {
        if (set.cells[i] == address)
            return true;
    }
    return false;
}

#if VEXO_TEST_HOOKS
void failAllocationAfter(uint32_t n) { failCountdown.store(n, std::memory_order_relaxed); }

bool allocationFails()
{
    // One relaxed load on the common path; the countdown itself is meant for one thread.
    uint32_t left = failCountdown.load(std::memory_order_relaxed);
    if (left == 0)
        return false;
    failCountdown.store(left - 1, std::memory_order_relaxed);
    return left == 1;
}

bool allocationFailureArmed() { return failCountdown.load(std::memory_order_relaxed) != 0; }

#endif

}  // namespace vexo::core

#if VEXO_TEST_HOOKS
VEXO_API void Vexo_failAllocationAfter(uint32_t n)
{
    vexo::core::failAllocationAfter(n);
}
#endif
