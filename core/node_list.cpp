// Chunked list operations: append, indexed access, ordered insertion with chunk
// splitting, linear record search and cursors.
#include "node_list.h"

#include <cstring>

namespace vexo::core {

namespace {

Chunk *newChunk(const ChunkLayout &layout, Allocator *allocator)
{
    auto *chunk = static_cast<Chunk *>(allocateZeroed(allocator, layout.chunkBytes));
    if (chunk != nullptr)
        chunk->capacity = layout.capacity;
    return chunk;
}

HRESULT initChunks(const ChunkLayout &layout, Allocator *allocator, IntrusiveList *chunks)
{
    Chunk *chunk = newChunk(layout, allocator);
    if (chunk == nullptr)
        return E_OUTOFMEMORY;
    addTail(chunks, &chunk->link);
    return S_OK;
}

// The last chunk with room for one more entry, adding a chunk when needed.
Chunk *roomAtEnd(const ChunkLayout &layout, Allocator *allocator, IntrusiveList *chunks)
{
    Chunk *last = lastChunk(*chunks);
    if (last != nullptr && last->count < last->capacity)
        return last;
    Chunk *chunk = newChunk(layout, allocator);
    if (chunk != nullptr)
        addTail(chunks, &chunk->link);
    return chunk;
}

uint32_t countChunks(const IntrusiveList &chunks)
{
    Chunk *first = firstChunk(chunks);
    if (first == nullptr)
        return 0;
    uint32_t total = 0;
    Chunk *chunk = first;
    do {
        total += chunk->count;
        chunk = nextChunk(chunk);
    } while (chunk != first);
    return total;
}

// Moves a cursor to its next entry position; false once the list is done.
bool stepOver(ListCursor *cursor)
{
    Chunk *next = nextChunk(cursor->chunk);
    if (next == firstChunk(*cursor->list)) {
        cursor->chunk = nullptr;
        cursor->index = 0;
        return false;
    }
    cursor->chunk = next;
    cursor->index = 0;
    return true;
}

template <bool Records>
HRESULT nextEntries(ListCursor *cursor, uint32_t wanted, void **out, uint32_t *fetched)
{
    if (cursor == nullptr || out == nullptr)
        return E_INVALIDARG;
    if (cursor->chunk == nullptr)
        return S_FALSE;
    uint32_t delivered = 0;
    while (delivered < wanted) {
        Chunk *chunk = cursor->chunk;
        if (cursor->index < chunk->count) {
            uint32_t n = chunk->count - cursor->index;
            if (n > wanted - delivered)
                n = wanted - delivered;
            if constexpr (Records) {
                const uint32_t stride = cursor->layout->entrySize;
                unsigned char *record = chunkRecords(chunk) + size_t(cursor->index) * stride;
                for (uint32_t i = 0; i < n; ++i, record += stride)
                    out[delivered + i] = record;
            } else {
                std::memcpy(out + delivered, chunkEntries(chunk) + cursor->index, n * sizeof(void *));
            }
            delivered += n;
            cursor->index += n;
            continue;
        }
        if (!stepOver(cursor))
            break;
    }
    if (fetched != nullptr)
        *fetched = delivered;
    return delivered > 0 ? S_OK : S_FALSE;
}

}  // namespace

HRESULT initList(const ChunkLayout &layout, Allocator *allocator, NodeList *list)
{
    return initChunks(layout, allocator, &list->chunks);
}

HRESULT initList(const ChunkLayout &layout, Allocator *allocator, RecordList *list)
{
    return initChunks(layout, allocator, &list->chunks);
}

HRESULT append(const ChunkLayout &layout, Allocator *allocator, NodeList *list, void *value)
{
    Chunk *chunk = roomAtEnd(layout, allocator, &list->chunks);
    if (chunk == nullptr)
        return E_OUTOFMEMORY;
    chunkEntries(chunk)[chunk->count++] = value;
    return S_OK;
}

void *appendRecord(const ChunkLayout &layout, Allocator *allocator, RecordList *list)
{
    Chunk *chunk = roomAtEnd(layout, allocator, &list->chunks);
    if (chunk == nullptr)
        return nullptr;
    return chunkRecords(chunk) + size_t(chunk->count++) * layout.entrySize;
}

uint32_t count(const NodeList *list) { return countChunks(list->chunks); }
uint32_t count(const RecordList *list) { return countChunks(list->chunks); }

HRESULT getAt(const NodeList *list, uint32_t index, void **out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    Chunk *first = firstChunk(list->chunks);
    if (first == nullptr)
        return S_FALSE;
    Chunk *chunk = first;
    do {
        if (index < chunk->count) {
            *out = chunkEntries(chunk)[index];
            return S_OK;
        }
        index -= chunk->count;
        chunk = nextChunk(chunk);
    } while (chunk != first);
    return S_FALSE;
}

HRESULT setAt(const ChunkLayout &layout, Allocator *allocator, NodeList *list, uint32_t index, void *value)
{
    if (firstChunk(list->chunks) == nullptr && initList(layout, allocator, list) != S_OK)
        return E_OUTOFMEMORY;
    const uint32_t total = count(list);
    if (index < total) {
        Chunk *chunk = firstChunk(list->chunks);
        while (index >= chunk->count) {
            index -= chunk->count;
            chunk = nextChunk(chunk);
        }
        chunkEntries(chunk)[index] = value;
        return S_OK;
    }
    // Grow to index + 1 entries. The new chunks are all taken before the list changes
    // (chained through their prev links meanwhile), so a failure leaves it as it was.
    Chunk *last = lastChunk(list->chunks);
    const uint32_t needed = index + 1 - total;
    const uint32_t room = last->capacity - last->count;
    Chunk *pending = nullptr;
    if (needed > room) {
        for (uint32_t extra = (needed - room + layout.capacity - 1) / layout.capacity; extra > 0; --extra) {
            Chunk *chunk = newChunk(layout, allocator);
            if (chunk == nullptr)
                return E_OUTOFMEMORY;
            chunk->link.prev = reinterpret_cast<ListLink *>(pending);
            pending = chunk;
        }
    }
    uint32_t left = needed;
    const uint32_t fill = left < room ? left : room;
    std::memset(chunkEntries(last) + last->count, 0, size_t(fill) * sizeof(void *));
    last->count += fill;
    left -= fill;
    while (pending != nullptr) {
        Chunk *chunk = pending;
        pending = reinterpret_cast<Chunk *>(chunk->link.prev);
        chunk->link.prev = nullptr;
        chunk->count = left < layout.capacity ? left : layout.capacity;  // zero-filled already
        left -= chunk->count;
        addTail(&list->chunks, &chunk->link);
    }
    last = lastChunk(list->chunks);
    chunkEntries(last)[last->count - 1] = value;
    return S_OK;
}

HRESULT findOrdered(const NodeList *list, ListPosition *position, const void *key,
                    int (*compare)(const void *key, const void *entry))
{
    if (list == nullptr || position == nullptr || compare == nullptr)
        return E_INVALIDARG;
    return findOrdered(list, position, [&](const void *entry) { return compare(key, entry); });
}

HRESULT insertOrdered(const ChunkLayout &layout, Allocator *allocator, NodeList *list, ListPosition position,
                      void *value)
{
    if (firstChunk(list->chunks) == nullptr) {
        if (initList(layout, allocator, list) != S_OK)
            return E_OUTOFMEMORY;
        position = {firstChunk(list->chunks), 0};
    }
    Chunk *chunk = position.chunk;
    uint32_t index = position.index;
    if (chunk->count >= chunk->capacity) {
        Chunk *upper = newChunk(layout, allocator);
        if (upper == nullptr)
            return E_OUTOFMEMORY;
        if (chunk == lastChunk(list->chunks)) {
            addTail(&list->chunks, &upper->link);
        } else {
            Chunk *after = nextChunk(chunk);
            upper->link.prev = &chunk->link;
            upper->link.next = &after->link;
            chunk->link.next = &upper->link;
            after->link.prev = &upper->link;
        }
        const uint32_t keep = chunk->count / 2;
        upper->count = chunk->count - keep;
        std::memcpy(chunkEntries(upper), chunkEntries(chunk) + keep, size_t(upper->count) * sizeof(void *));
        chunk->count = keep;
        if (index > keep) {
            index -= keep;
            chunk = upper;
        }
    }
    void **entries = chunkEntries(chunk);
    std::memmove(entries + index + 1, entries + index, size_t(chunk->count - index) * sizeof(void *));
    entries[index] = value;
    chunk->count += 1;
    return S_OK;
}

int32_t findRecord(const ChunkLayout &layout, const RecordList *list,
                   int (*match)(const void *key, int32_t index, const void *record), const void *key)
{
    Chunk *first = firstChunk(list->chunks);
    if (first == nullptr)
        return -1;
    int32_t running = 0;
    Chunk *chunk = first;
    do {
        const unsigned char *record = chunkRecords(chunk);
        for (uint32_t i = 0; i < chunk->count; ++i, ++running, record += layout.entrySize) {
            if (match(key, running, record))
                return running;
        }
        chunk = nextChunk(chunk);
    } while (chunk != first);
    return -1;
}

HRESULT cursorInit(ListCursor *cursor, const ChunkLayout *layout, const NodeList *list)
{
    if (cursor == nullptr || layout == nullptr || list == nullptr)
        return E_INVALIDARG;
    *cursor = {&list->chunks, layout, firstChunk(list->chunks), 0};
    return S_OK;
}

HRESULT cursorInit(ListCursor *cursor, const ChunkLayout *layout, const RecordList *list)
{
    if (cursor == nullptr || layout == nullptr || list == nullptr)
        return E_INVALIDARG;
    *cursor = {&list->chunks, layout, firstChunk(list->chunks), 0};
    return S_OK;
}

HRESULT cursorNext(ListCursor *cursor, uint32_t wanted, void **out, uint32_t *fetched)
{
    return nextEntries<false>(cursor, wanted, out, fetched);
}

HRESULT cursorNextRecords(ListCursor *cursor, uint32_t wanted, void **out, uint32_t *fetched)
{
    return nextEntries<true>(cursor, wanted, out, fetched);
}

HRESULT cursorSkip(ListCursor *cursor, uint32_t k)
{
    if (cursor == nullptr)
        return E_INVALIDARG;
    if (k == 0)
        return S_OK;
    if (cursor->chunk == nullptr)
        return S_FALSE;
    while (k > 0) {
        Chunk *chunk = cursor->chunk;
        if (cursor->index < chunk->count) {
            uint32_t n = chunk->count - cursor->index;
            if (n > k)
                n = k;
            cursor->index += n;
            k -= n;
            continue;
        }
        if (!stepOver(cursor))
            break;
    }
    return S_OK;
}

}  // namespace vexo::core
