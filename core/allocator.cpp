// The heap and tracking allocators and the intrusive list that chains tracked blocks.
#include "allocator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
Allocator heapAllocator = {&kHeapOps};

struct TrackingAllocator {
    Allocator base;
    uint32_t blocks;
    uint32_t bytes;
    IntrusiveList list;
};

// Tracked blocks start with their list links; the caller gets the address after them,
// which keeps the heap's 16-byte alignment.
constexpr size_t kHeader = sizeof(ListLink) < 16 ? 16 : sizeof(ListLink);

uint32_t failCountdown = 0;

void *trackingAllocate(Allocator *allocator, size_t size)
{
    if (failCountdown != 0 && --failCountdown == 0)
        return nullptr;
    auto *self = reinterpret_cast<TrackingAllocator *>(allocator);
    auto *block = static_cast<unsigned char *>(std::malloc(size + kHeader));
    if (block == nullptr)
        return nullptr;
    auto *link = reinterpret_cast<ListLink *>(block);
    link->prev = link->next = nullptr;
    self->blocks += 1;
    self->bytes += static_cast<uint32_t>(size + kHeader);
    addTail(&self->list, link);
    return block + kHeader;
}

void trackingRelease(Allocator *, void *) {}

void trackingDestroy(Allocator *allocator)
{
    auto *self = reinterpret_cast<TrackingAllocator *>(allocator);
    ListLink *link = self->list.first;
    if (link != nullptr) {
        self->list.last->next = nullptr;  // open the ring so the walk ends
        while (link != nullptr) {
            ListLink *next = link->next;
            std::free(link);
            link = next;
        }
    }
    self->list.first = self->list.last = nullptr;
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

void failTrackingAllocationAfter(uint32_t n) { failCountdown = n; }

}  // namespace vexo::core
