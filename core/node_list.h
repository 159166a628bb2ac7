// Chunked lists: unrolled linked lists of fixed-capacity chunks holding node references
// (NodeList) or small records stored inline (RecordList). Every list of the model is one
// of these; chunks come from the owner's allocator and are never freed one by one. A node
// list of more than one chunk also keeps a directory of its chunks, so an ordered search
// or insert bisects over the chunks instead of walking them (groups hold 100,000 frames).
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "allocator.h"

namespace vexo::core {

// Chunk capacity of a list. The list does not record it; its owner passes the same
// layout to every operation. Capacities follow the sizing rule of 32-bit chunks
// ((entry size * n + 75) rounded down to 64 bytes, minus a 12-byte header), so the
// entries per chunk are the same on every platform; the bytes actually allocated
// depend on the size of a pointer.
struct ChunkLayout {
    uint32_t capacity;    // entries per chunk
    uint32_t entrySize;   // bytes per stored entry
    uint32_t chunkBytes;  // bytes allocated per chunk, header included
};

// A chunk remembers the capacity it was made with, so a list handed a different layout
// by mistake can never write past a chunk's end.
struct Chunk {
    ListLink link;
    uint32_t count;
    uint32_t capacity;
};

constexpr uint32_t kChunkHeader = static_cast<uint32_t>(sizeof(Chunk));

constexpr uint32_t nominalEntries(uint32_t nominalSize, uint32_t n)
{
    return (((nominalSize * n + 75) & ~63u) - 12) / nominalSize;
}

constexpr ChunkLayout nodeListLayout(uint32_t n)
{
    const uint32_t capacity = nominalEntries(4, n);
    return {capacity, static_cast<uint32_t>(sizeof(void *)),
            kChunkHeader + capacity * static_cast<uint32_t>(sizeof(void *))};
}

// nominalSize sizes the chunk as on 32-bit platforms; actualSize is the record's size
// here (sizeof, so alignment is kept: the chunk header is a multiple of 8 bytes).
constexpr ChunkLayout recordListLayout(uint32_t nominalSize, uint32_t n, uint32_t actualSize)
{
    const uint32_t capacity = nominalEntries(nominalSize, n);
    return {capacity, actualSize, kChunkHeader + capacity * actualSize};
}

// The layouts shared by every database.
inline constexpr ChunkLayout kSmallNodeLayout = nodeListLayout(3);     // 13: groups, relations
inline constexpr ChunkLayout kLargeNodeLayout = nodeListLayout(2000);  // 2013: root group
inline constexpr ChunkLayout kInternLayout = nodeListLayout(8100);     // 8109: interned strings

// The chunks of a node list in list order. A list gets one with its second chunk or its
// first ordered insert, and every operation that adds a chunk keeps it in step (or fails
// with E_OUTOFMEMORY before it changes anything). version counts ordered inserts, which
// move entries that cursors may stand behind.
struct ChunkDirectory {
    uint32_t version;
    uint32_t count;
    uint32_t capacity;
    // Where the last ordered insert put its entry (a hint for findNear, checked before use),
    // how many of findNear's last tries in a row missed, and how many inserts it sits out.
    uint32_t nearSlot;
    uint32_t nearIndex;
    uint16_t nearMisses;
    uint16_t nearSkips;
    Chunk *chunks[1];  // capacity entries
};

// A list is the head of the intrusive list of its chunks; all zero is an empty list.
struct NodeList {
    IntrusiveList chunks;
    ChunkDirectory *directory;
};
struct RecordList {
    IntrusiveList chunks;
};

inline Chunk *firstChunk(const IntrusiveList &chunks) { return reinterpret_cast<Chunk *>(chunks.first); }
inline Chunk *lastChunk(const IntrusiveList &chunks) { return reinterpret_cast<Chunk *>(chunks.last); }
inline Chunk *nextChunk(const Chunk *chunk) { return reinterpret_cast<Chunk *>(chunk->link.next); }
inline void **chunkEntries(Chunk *chunk) { return reinterpret_cast<void **>(chunk + 1); }
inline unsigned char *chunkRecords(Chunk *chunk) { return reinterpret_cast<unsigned char *>(chunk + 1); }

// Gives a list its first, empty chunk.
HRESULT initList(const ChunkLayout &layout, Allocator *allocator, NodeList *list);
HRESULT initList(const ChunkLayout &layout, Allocator *allocator, RecordList *list);

// Appends a value; E_OUTOFMEMORY leaves the list unchanged.
HRESULT append(const ChunkLayout &layout, Allocator *allocator, NodeList *list, void *value);

// Appends a zero-filled record and returns its address, or null when memory runs out.
void *appendRecord(const ChunkLayout &layout, Allocator *allocator, RecordList *list);

uint32_t count(const NodeList *list);
uint32_t count(const RecordList *list);

// Reads entry index: S_OK, S_FALSE past the end, E_INVALIDARG for a null out pointer.
HRESULT getAt(const NodeList *list, uint32_t index, void **out);

// Writes entry index, growing the list with null entries up to it.
HRESULT setAt(const ChunkLayout &layout, Allocator *allocator, NodeList *list, uint32_t index, void *value);

constexpr uint32_t kUnknownSlot = UINT32_MAX;

struct ListPosition {
    Chunk *chunk;
    uint32_t index;
    uint32_t slot = kUnknownSlot;  // the chunk's place in the directory, when known
};

// The entry at a position found by findOrdered with S_OK.
inline void *entryAt(const ListPosition &position) { return chunkEntries(position.chunk)[position.index]; }

namespace detail {

// The directory slot of the first chunk (from slot lo on) whose last entry does not order
// before the key, or the last slot when there is none.
template <class Order>
uint32_t bisectChunks(const ChunkDirectory &directory, uint32_t lo, Order order)
{
    uint32_t n = directory.count - lo;
    while (n > 0) {
        const uint32_t half = n / 2, mid = lo + half;
        const Chunk *chunk = directory.chunks[mid];
        if (chunk->count == 0 || order(chunkEntries(const_cast<Chunk *>(chunk))[chunk->count - 1]) > 0) {
            lo = mid + 1;
            n = n - half - 1;
        } else {
            n = half;
        }
    }
    return lo < directory.count ? lo : directory.count - 1;
}

// Bisects the n entries of one chunk from lo on; S_OK at an equal entry, else S_FALSE
// where the key belongs.
template <class Order>
HRESULT bisectSpan(Chunk *chunk, uint32_t slot, uint32_t lo, uint32_t n, ListPosition *position, Order order)
{
    void **entries = chunkEntries(chunk);
    while (n > 0) {
        const uint32_t half = n / 2, mid = lo + half;
        const int c = order(entries[mid]);
        if (c == 0) {
            *position = {chunk, mid, slot};
            return S_OK;
        }
        if (c > 0) {
            lo = mid + 1;
            n = n - half - 1;
        } else {
            n = half;
        }
    }
    *position = {chunk, lo, slot};
    return S_FALSE;
}

// Bisects inside one chunk.
template <class Order>
HRESULT bisectEntries(Chunk *chunk, uint32_t slot, ListPosition *position, Order order)
{
    return bisectSpan(chunk, slot, 0, chunk->count, position, order);
}

constexpr uint32_t kNearReach = 16;

// findNear's look around the hint.
template <class Order>
bool lookNear(const ChunkDirectory *directory, ListPosition *position, Order order, HRESULT *found)
{
    if (directory->nearSlot >= directory->count)
        return false;
    const uint32_t slot = directory->nearSlot, at = directory->nearIndex;
    Chunk *chunk = directory->chunks[slot];
    const uint32_t count = chunk->count;
    if (at >= count)
        return false;
    void **entries = chunkEntries(chunk);
    int c = order(entries[at]);
    uint32_t lo = at, hi = at;  // the key orders after entry lo and before entry hi
    for (uint32_t reach = 1; c != 0; reach *= 2) {
        if (reach > kNearReach)
            return false;
        uint32_t probe = 0;
        if (c > 0) {
            if (hi == count - 1)
                return false;  // after the chunk's last entry
            probe = count - 1 - at < reach ? count - 1 : at + reach;
        } else {
            if (lo == 0)
                return false;  // before the chunk's first entry
            probe = at < reach ? 0 : at - reach;
        }
        const int next = order(entries[probe]);
        if (next == 0) {
            c = 0;
            lo = probe;
        } else if ((next > 0) == (c > 0)) {
            lo = hi = probe;  // still on the same side: reach further
        } else {
            if (c > 0)
                hi = probe;
            else
                lo = probe;
            *found = detail::bisectSpan(chunk, slot, lo + 1, hi - lo - 1, position, order);
            return true;
        }
    }
    *position = {chunk, lo, slot};
    *found = S_OK;
    return true;
}

}  // namespace detail

// Looks for a key near the entry that the list's last ordered insert put in: keys made one
// after another (an element's id, then the ids of its parts) mostly belong next to each
// other, and then a few comparisons find the place that bisecting the whole list finds.
// True with *found set (S_OK or S_FALSE, *position as findOrdered gives them) when the key
// lies inside that chunk, between two of its entries a few places from the hint; false
// otherwise, and the caller searches the whole list. After two misses in a row it sits
// out the next 2, 4, ... 64 inserts, so that scattered keys pay next to nothing for it.
template <class Order>
bool findNear(NodeList *list, ListPosition *position, Order order, HRESULT *found)
{
    ChunkDirectory *directory = list->directory;
    if (directory == nullptr)
        return false;
    if (directory->nearSkips > 0) {
        --directory->nearSkips;
        return false;
    }
    if (detail::lookNear(directory, position, order, found)) {
        directory->nearMisses = 0;
        return true;
    }
    if (directory->nearMisses < 7)
        ++directory->nearMisses;
    if (directory->nearMisses >= 2)
        directory->nearSkips = static_cast<uint16_t>(1u << (directory->nearMisses - 1));
    return false;
}

// Searches a list kept in ascending order. order(entry) answers <0, 0 or >0 when the
// key orders before, equal to or after the entry. S_OK: an equal entry is at *position;
// S_FALSE: not found and *position is where the key belongs. A list without chunks
// gives S_FALSE and leaves *position alone. When position->chunk is set, a key that
// orders before that chunk's last entry is looked for in that chunk only (a resumed
// search); otherwise the whole list is bisected, chunks first, in O(log n) steps. On a
// list that is not in order the answer is some position, never a fault.
template <class Order>
HRESULT findOrdered(const NodeList *list, ListPosition *position, Order order)
{
    Chunk *first = firstChunk(list->chunks);
    if (first == nullptr)
        return S_FALSE;
    Chunk *last = lastChunk(list->chunks);
    const ChunkDirectory *directory = list->directory;
    const uint32_t lastSlot = directory != nullptr ? directory->count - 1 : 0;
    // Keys beyond the last entry are common (identifiers arriving in order).
    if (last->count != 0 && order(chunkEntries(last)[last->count - 1]) > 0) {
        *position = {last, last->count, lastSlot};
        return S_FALSE;
    }
    Chunk *start = position->chunk;
    if (start != nullptr && start->count != 0 && order(chunkEntries(start)[start->count - 1]) <= 0)
        return detail::bisectEntries(start, start == last ? lastSlot : kUnknownSlot, position, order);
    // A list of several chunks always has its directory.
    assert(directory != nullptr || first == last);
    if (directory == nullptr || directory->count <= 1)
        return detail::bisectEntries(first, 0, position, order);
    const uint32_t slot = detail::bisectChunks(*directory, 0, order);
    return detail::bisectEntries(directory->chunks[slot], slot, position, order);
}

// The same search with a plain compare function taking (key, entry).
HRESULT findOrdered(const NodeList *list, ListPosition *position, const void *key,
                    int (*compare)(const void *key, const void *entry));

// Inserts a value at a position found by findOrdered, splitting a full chunk in two, and
// counts the change in the list's version. E_OUTOFMEMORY leaves the list unchanged.
HRESULT insertOrdered(const ChunkLayout &layout, Allocator *allocator, NodeList *list, ListPosition position,
                      void *value);

// Inserts n values, in order, at one position found by findOrdered, when the position's
// chunk has room for all of them: what n inserts at that place one after another give,
// with one move of the entries behind it. S_FALSE, changing nothing, when the chunk
// lacks the room (the caller inserts one at a time, splitting the chunk).
HRESULT insertRun(Allocator *allocator, NodeList *list, ListPosition position, void *const *values, uint32_t n);

// Index of the first record for which match(key, index, record) is non-zero, or -1.
int32_t findRecord(const ChunkLayout &layout, const RecordList *list,
                   int (*match)(const void *key, int32_t index, const void *record), const void *key);

// A resumable position in a list; exhausted when chunk is null. Over a node list the
// cursor also remembers the entry just before its position (the last one delivered or
// skipped) and where it stood: an ordered insert moves entries, and when the list's
// version says one happened, cursorNext and cursorSkip find that entry again (entries
// only move toward the end) and go on right after it. So every entry is delivered once,
// and entries inserted while a cursor walks are delivered when they land behind it.
struct ListCursor {
    const IntrusiveList *list;
    const ChunkLayout *layout;
    Chunk *chunk;
    uint32_t index;
    const NodeList *nodes;  // the list again when it is a node list, else null
    uint32_t version;
    uint32_t previousIndex;
    const void *previous;   // null before the first entry
    Chunk *previousChunk;
};

HRESULT cursorInit(ListCursor *cursor, const ChunkLayout *layout, const NodeList *list);
HRESULT cursorInit(ListCursor *cursor, const ChunkLayout *layout, const RecordList *list);

// Puts a cursor back at its list's first entry (a list may have got its first chunk since).
void cursorReset(ListCursor *cursor);

// Puts a node-list cursor on a position found by findOrdered.
void cursorMoveTo(ListCursor *cursor, const ListPosition &position);

// Delivers up to wanted entries (node values, or record addresses for a record list).
// S_OK when at least one was delivered, else S_FALSE; an exhausted cursor does not
// write *fetched. E_INVALIDARG for a null cursor or array.
HRESULT cursorNext(ListCursor *cursor, uint32_t wanted, void **out, uint32_t *fetched);
HRESULT cursorNextRecords(ListCursor *cursor, uint32_t wanted, void **out, uint32_t *fetched);

// Delivers the next node entry, as cursorNext does for one entry but without its batch
// bookkeeping or the check for moved entries: the form for loops that take one entry at a
// time on a hot path over a list that does not change meanwhile.
inline bool cursorStep(ListCursor &cursor, void **entry)
{
    while (cursor.chunk != nullptr) {
        if (cursor.index < cursor.chunk->count) {
            *entry = chunkEntries(cursor.chunk)[cursor.index++];
            return true;
        }
        Chunk *next = nextChunk(cursor.chunk);
        cursor.chunk = next == firstChunk(*cursor.list) ? nullptr : next;
        cursor.index = 0;
    }
    return false;
}

// Moves the cursor on by k entries without delivering them. S_OK (also when it runs
// past the end); S_FALSE when the list is empty or the cursor exhausted.
HRESULT cursorSkip(ListCursor *cursor, uint32_t k);

}  // namespace vexo::core
