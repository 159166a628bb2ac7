// Chunked list operations: append, indexed access, ordered insertion with chunk
// splitting and the chunk directory, linear record search and cursors.
#include "node_list.h"

#include <cstddef>
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

size_t directoryBytes(uint32_t capacity)
{
    return offsetof(ChunkDirectory, chunks) + size_t(capacity) * sizeof(Chunk *);
}

// Makes sure the list has a directory of its chunks with room for `more` chunks besides.
// A list without one has at most one chunk. Null when memory runs out; the list and its
// old directory are untouched then.
ChunkDirectory *directoryWithRoom(Allocator *allocator, NodeList *list, uint32_t more)
{
    ChunkDirectory *directory = list->directory;
    const uint32_t count = directory != nullptr ? directory->count : (firstChunk(list->chunks) != nullptr ? 1 : 0);
    if (directory != nullptr && directory->capacity - directory->count >= more)
        return directory;
    if (more > UINT32_MAX / 2 - count)
        return nullptr;
    uint32_t capacity = directory != nullptr ? directory->capacity : 2;
    while (capacity < count + more)
        capacity *= 2;
    // The old block stays with the allocator (released with it): growth by doubling keeps
    // the total below twice the final size.
    auto *grown = static_cast<ChunkDirectory *>(allocate(allocator, directoryBytes(capacity)));
    if (grown == nullptr)
        return nullptr;
    grown->version = directory != nullptr ? directory->version : 0;
    grown->nearSlot = directory != nullptr ? directory->nearSlot : kUnknownSlot;
    grown->nearIndex = directory != nullptr ? directory->nearIndex : 0;
    grown->nearMisses = directory != nullptr ? directory->nearMisses : 0;
    grown->nearSkips = directory != nullptr ? directory->nearSkips : 0;
    grown->count = count;
    grown->capacity = capacity;
    if (directory != nullptr)
        std::memcpy(grown->chunks, directory->chunks, size_t(count) * sizeof(Chunk *));
    else if (count == 1)
        grown->chunks[0] = firstChunk(list->chunks);
    list->directory = grown;
    return grown;
}

// Adds a chunk at the end of a node list, directory included.
Chunk *newLastChunk(const ChunkLayout &layout, Allocator *allocator, NodeList *list)
{
    const bool listed = list->directory != nullptr || firstChunk(list->chunks) != nullptr;
    ChunkDirectory *directory = listed ? directoryWithRoom(allocator, list, 1) : nullptr;
    if (listed && directory == nullptr)
        return nullptr;
    Chunk *chunk = newChunk(layout, allocator);
    if (chunk == nullptr)
        return nullptr;
    addTail(&list->chunks, &chunk->link);
    if (directory != nullptr)
        directory->chunks[directory->count++] = chunk;
    return chunk;
}

// The directory slot of a chunk, by a walk over the directory (used only when a
// position does not carry its slot).
uint32_t slotOf(const ChunkDirectory &directory, const Chunk *chunk)
{
    for (uint32_t i = 0; i < directory.count; ++i) {
        if (directory.chunks[i] == chunk)
            return i;
    }
    return kUnknownSlot;
}

// The directory slot of a position's chunk: the one the position carries when it holds
// that chunk, else found by the walk.
uint32_t slotOf(const ChunkDirectory &directory, const ListPosition &position)
{
    const uint32_t slot = position.slot;
    return slot < directory.count && directory.chunks[slot] == position.chunk ? slot
                                                                              : slotOf(directory, position.chunk);
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

uint32_t versionOf(const NodeList *list) { return list->directory != nullptr ? list->directory->version : 0; }

// Records the entry a node-list cursor just passed.
void notePassed(ListCursor *cursor, Chunk *chunk, uint32_t index)
{
    if (cursor->nodes == nullptr)
        return;
    cursor->previous = chunkEntries(chunk)[index];
    cursor->previousChunk = chunk;
    cursor->previousIndex = index;
}

// After ordered inserts into the list: finds the entry the cursor passed last (it can only
// have moved toward the end) and puts the position right behind it. An exhausted cursor
// stays exhausted.
void catchUp(ListCursor *cursor)
{
    if (cursor->nodes == nullptr || cursor->chunk == nullptr)
        return;
    const uint32_t version = versionOf(cursor->nodes);
    if (version == cursor->version)
        return;
    cursor->version = version;
    Chunk *first = firstChunk(*cursor->list);
    if (cursor->previous == nullptr) {
        cursor->chunk = first;
        cursor->index = 0;
        return;
    }
    Chunk *chunk = cursor->previousChunk;
    uint32_t index = cursor->previousIndex;
    do {
        void **entries = chunkEntries(chunk);
        for (; index < chunk->count; ++index) {
            if (entries[index] == cursor->previous) {
                cursor->previousChunk = chunk;
                cursor->previousIndex = index;
                cursor->chunk = chunk;
                cursor->index = index + 1;
                return;
            }
        }
        chunk = nextChunk(chunk);
        index = 0;
    } while (chunk != first);
    // Only a list changed by other means than ordered inserts gets here.
    if (cursor->index > cursor->chunk->count)
        cursor->index = cursor->chunk->count;
}

template <bool Records>
HRESULT nextEntries(ListCursor *cursor, uint32_t wanted, void **out, uint32_t *fetched)
{
    if (cursor == nullptr || out == nullptr)
        return E_INVALIDARG;
    catchUp(cursor);
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
                notePassed(cursor, chunk, cursor->index + n - 1);
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
    Chunk *chunk = lastChunk(list->chunks);
    if (chunk == nullptr || chunk->count >= chunk->capacity)
        chunk = newLastChunk(layout, allocator, list);
    if (chunk == nullptr)
        return E_OUTOFMEMORY;
    chunkEntries(chunk)[chunk->count++] = value;
    countChange(allocator);
    return S_OK;
}

void *appendRecord(const ChunkLayout &layout, Allocator *allocator, RecordList *list)
{
    Chunk *chunk = roomAtEnd(layout, allocator, &list->chunks);
    if (chunk == nullptr)
        return nullptr;
    countChange(allocator);
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
        countChange(allocator);
        return S_OK;
    }
    // Grow to index + 1 entries. The new chunks are all taken before the list changes
    // (chained through their prev links meanwhile), so a failure leaves it as it was.
    Chunk *last = lastChunk(list->chunks);
    const uint32_t needed = index + 1 - total;
    const uint32_t room = last->capacity - last->count;
    Chunk *pending = nullptr;
    if (needed > room) {
        const uint32_t extra = (needed - room + layout.capacity - 1) / layout.capacity;
        if (directoryWithRoom(allocator, list, extra) == nullptr)
            return E_OUTOFMEMORY;
        for (uint32_t k = extra; k > 0; --k) {
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
        list->directory->chunks[list->directory->count++] = chunk;
    }
    last = lastChunk(list->chunks);
    chunkEntries(last)[last->count - 1] = value;
    countChange(allocator);
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
        position = {firstChunk(list->chunks), 0, 0};
    }
    Chunk *chunk = position.chunk;
    uint32_t index = position.index;
    const bool split = chunk->count >= chunk->capacity;
    // Every allocation comes first, so a failure leaves the list as it was.
    ChunkDirectory *directory = directoryWithRoom(allocator, list, split ? 1 : 0);
    if (directory == nullptr)
        return E_OUTOFMEMORY;
    uint32_t slot = position.slot;
    if (split) {
        slot = slotOf(*directory, position);
        Chunk *upper = newChunk(layout, allocator);
        if (upper == nullptr || slot == kUnknownSlot)
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
        std::memmove(directory->chunks + slot + 2, directory->chunks + slot + 1,
                     size_t(directory->count - slot - 1) * sizeof(Chunk *));
        directory->chunks[slot + 1] = upper;
        directory->count += 1;
        const uint32_t keep = chunk->count / 2;
        upper->count = chunk->count - keep;
        std::memcpy(chunkEntries(upper), chunkEntries(chunk) + keep, size_t(upper->count) * sizeof(void *));
        chunk->count = keep;
        if (index > keep) {
            index -= keep;
            chunk = upper;
            slot += 1;
        }
    }
    void **entries = chunkEntries(chunk);
    std::memmove(entries + index + 1, entries + index, size_t(chunk->count - index) * sizeof(void *));
    entries[index] = value;
    chunk->count += 1;
    directory->version += 1;
    directory->nearSlot = slot < directory->count && directory->chunks[slot] == chunk ? slot : kUnknownSlot;
    directory->nearIndex = index;
    countChange(allocator);
    return S_OK;
}

HRESULT insertRun(Allocator *allocator, NodeList *list, ListPosition position, void *const *values, uint32_t n)
{
    if (n == 0)
        return S_OK;
    Chunk *chunk = position.chunk;
    ChunkDirectory *directory = list->directory;
    if (chunk == nullptr || directory == nullptr || position.index > chunk->count || chunk->capacity - chunk->count < n)
        return S_FALSE;
    void **entries = chunkEntries(chunk);
    std::memmove(entries + position.index + n, entries + position.index,
                 size_t(chunk->count - position.index) * sizeof(void *));
    std::memcpy(entries + position.index, values, size_t(n) * sizeof(void *));
    chunk->count += n;
    directory->version += n;
    directory->nearSlot = slotOf(*directory, position);
    directory->nearIndex = position.index + n - 1;
    for (uint32_t k = 0; k < n; ++k)
        countChange(allocator);
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
    *cursor = {&list->chunks, layout, firstChunk(list->chunks), 0, list, versionOf(list), 0, nullptr, nullptr};
    return S_OK;
}

HRESULT cursorInit(ListCursor *cursor, const ChunkLayout *layout, const RecordList *list)
{
    if (cursor == nullptr || layout == nullptr || list == nullptr)
        return E_INVALIDARG;
    *cursor = {&list->chunks, layout, firstChunk(list->chunks), 0, nullptr, 0, 0, nullptr, nullptr};
    return S_OK;
}

void cursorReset(ListCursor *cursor)
{
    cursor->chunk = firstChunk(*cursor->list);
    cursor->index = 0;
    cursor->previous = nullptr;
    cursor->previousChunk = nullptr;
    cursor->previousIndex = 0;
    if (cursor->nodes != nullptr)
        cursor->version = versionOf(cursor->nodes);
}

void cursorMoveTo(ListCursor *cursor, const ListPosition &position)
{
    cursor->chunk = position.chunk;
    cursor->index = position.index;
    cursor->previous = nullptr;
    cursor->previousChunk = nullptr;
    cursor->previousIndex = 0;
    if (cursor->nodes == nullptr || position.chunk == nullptr)
        return;
    cursor->version = versionOf(cursor->nodes);
    Chunk *chunk = position.chunk;
    uint32_t index = position.index;
    if (index == 0) {
        if (chunk == firstChunk(*cursor->list))
            return;
        chunk = reinterpret_cast<Chunk *>(chunk->link.prev);
        index = chunk->count;
    }
    if (index == 0 || index > chunk->count)
        return;
    cursor->previous = chunkEntries(chunk)[index - 1];
    cursor->previousChunk = chunk;
    cursor->previousIndex = index - 1;
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
    catchUp(cursor);
    if (cursor->chunk == nullptr)
        return S_FALSE;
    while (k > 0) {
        Chunk *chunk = cursor->chunk;
        if (cursor->index < chunk->count) {
            uint32_t n = chunk->count - cursor->index;
            if (n > k)
                n = k;
            notePassed(cursor, chunk, cursor->index + n - 1);
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
