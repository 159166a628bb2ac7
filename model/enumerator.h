// Enumerators: small heap objects that walk one node list or record list of the model
// with a resumable cursor. The decoder and the Lua binding use the same object and the
// walking helpers below, so every list is read one way.
#pragma once

#include <cstdint>

#include "node_classes.h"
#include "node_list.h"
#include "vexo/enumerate.h"

namespace vexo::model {

constexpr uint32_t kNodeEnumeratorMagic = 0x696C5065;    // "ePli": over a NodeList
constexpr uint32_t kRecordEnumeratorMagic = 0x73694C65;  // "eLis": over a RecordList

struct Enumerator {
    uint32_t magic;
    core::ListCursor cursor;
};

// The enumerator behind a handle, or null when the handle is null or carries neither magic.
Enumerator *enumeratorAs(const void *handle);

// Aims the enumerator held by *handle at a list, allocating one when *handle is null.
// E_INVALIDARG for a null handle pointer or a foreign object in it; E_OUTOFMEMORY leaves
// *handle null. The layout must outlive the enumerator (the shared layouts do).
HRESULT aimAtNodes(VexoEnumerator **handle, const core::ChunkLayout &layout, const core::NodeList &list);
HRESULT aimAtRecords(VexoEnumerator **handle, const core::ChunkLayout &layout, const core::RecordList &list);

// Total number of entries of the list an enumerator walks.
uint32_t countEntries(const Enumerator &enumerator);

// Delivers up to wanted entries (node references or record addresses) and advances.
HRESULT nextEntries(Enumerator &enumerator, uint32_t wanted, void **out, uint32_t *fetched);

// Calls visit(entry) for every entry of a node list in order, without allocating; stops
// early when visit returns false. Entries appended during the walk are visited too.
template <class Visit>
void forEachNode(const core::NodeList &list, Visit visit)
{
    core::Chunk *first = core::firstChunk(list.chunks);
    if (first == nullptr)
        return;
    core::Chunk *chunk = first;
    do {
        void **entries = core::chunkEntries(chunk);
        for (uint32_t i = 0; i < chunk->count; ++i) {
            if (!visit(entries[i]))
                return;
        }
        chunk = core::nextChunk(chunk);
    } while (chunk != first);
}

// The same over a record list, visiting the address of each record of type T.
template <class T, class Visit>
void forEachRecord(const core::RecordList &list, Visit visit)
{
    core::Chunk *first = core::firstChunk(list.chunks);
    if (first == nullptr)
        return;
    core::Chunk *chunk = first;
    do {
        T *records = reinterpret_cast<T *>(core::chunkRecords(chunk));
        for (uint32_t i = 0; i < chunk->count; ++i) {
            if (!visit(&records[i]))
                return;
        }
        chunk = core::nextChunk(chunk);
    } while (chunk != first);
}

}  // namespace vexo::model
