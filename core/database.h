// The database: root object of one model. It owns every node, chunk, string and slot
// through one tracking allocator, holds the string table, and keeps its elements in an
// identifier-ordered root group and seven named default groups.
#pragma once

#include <cstdint>
#include <mutex>
#include <new>

#include "node_classes.h"
#include "string_table.h"
#include "vexo/types.h"

namespace vexo::core {

// The database behind a handle that must be exactly a database.
inline Vexo *databaseAs(const void *handle) { return nodeExactly<Vexo>(handle); }

// True when an item is a node, record or string slot that another database owns (or one
// that no database listed): what a link or creation argument must refuse. Null and
// memory that is neither a node nor a slot are not foreign; class tests skip those.
inline bool foreignTo(const void *item, const Vexo *database)
{
    if (item == nullptr)
        return false;
    const uint32_t word = firstWord(item);
    return (isGenuineCode(word) || word == kSlotMagic) && !ownedBy(item, database);
}

// ---- Changes and derived data --------------------------------------------------
// A database counts the changes of its model: every node it allocates and every entry a
// list gains, moves or rewrites (the node and list primitives count those through the
// database's allocator), and every field a setter or link function writes (noteChange).
// Data derived from the model for speed (decoder indexes, conversion plans) records the
// count it was built at and is rebuilt when the count has moved on.

// The number of changes made to a database's model so far.
inline uint64_t changesOf(const Vexo *database) { return database->allocator->changes; }

// Counts a change to a field of a node (nothing for null or a node of no database).
void noteChange(const void *node);

// A block of derived data, made by an upper layer and released with the database by its
// own function. Blocks are kept in the database's `derived` chain and hung on the node
// they belong to; the node's field is read with an acquire load, since blocks may be
// made while other threads read the model (decoding, encoding).
struct DerivedBlock {
    DerivedBlock *next;
    void (*release)(DerivedBlock *block);
};

// Chains a block into the database's list; the caller holds derivedLock().
void keepDerived(Vexo *database, DerivedBlock *block);

// The one lock under which derived blocks are made, rebuilt and chained (rare: once per
// block and change), so that threads that read the same model make each block once.
std::mutex &derivedLock();

// The derived block of type Block held in *field, made and chained on first use (its
// stamp then says it was never built); null when memory for it cannot be had. The caller
// holds derivedLock() and rebuilds the block when its stamp is not the current count.
template <class Block>
Block *derivedBlockOf(Vexo *database, DerivedBlock *const *field)
{
    auto **slot = const_cast<DerivedBlock **>(field);
    auto *block = static_cast<Block *>(__atomic_load_n(slot, __ATOMIC_ACQUIRE));
    if (block != nullptr)
        return block;
    block = new (std::nothrow) Block;
    if (block == nullptr)
        return nullptr;
    block->release = [](DerivedBlock *made) { delete static_cast<Block *>(made); };
    keepDerived(database, block);
    __atomic_store_n(slot, block, __ATOMIC_RELEASE);
    return block;
}

// The collections node of a database or of a collections node: S_OK, S_FALSE when a
// database has none, E_POINTER for null, E_INVALIDARG for any other node.
HRESULT collectionsOf(const void *handle, DatabaseCollections **out);

// Gives a node its element identifier once and lists it in the root group.
// E_INVALIDARG for a non-database or a node that is no ElementId kind; E_UNEXPECTED when
// the node already has one; a null identifier leaves the node without one.
HRESULT setElementId(Vexo *database, ObjectBase *node, const VexoChar *id);

// A batch of element identifiers, for a builder that names many elements and reads no
// group meanwhile: while one is open, setElementId keeps the nodes it names, and a node
// just named that joins a group (insertIntoGroup with a record, as the default groups
// are filled) waits with it. Each flush sorts the kept ids at once and lists them in the
// root group and the waiting nodes in their groups. The members and order of the groups
// are those of one insert after another (the first node of an id stays).
// openIdBatch: S_FALSE when one is open already, E_OUTOFMEMORY when it cannot be had.
HRESULT openIdBatch(Vexo *database);
// Makes room for more ids in an open batch at once; false when memory runs out.
bool reserveIdBatch(Vexo *database, uint32_t more);
// Lists the kept nodes; the batch stays open. S_FALSE without a batch; E_OUTOFMEMORY
// leaves some nodes unlisted, as failed inserts would.
HRESULT flushIdBatch(Vexo *database);
// Flushes the batch and sets it aside, so that nodes named meanwhile (by a message's
// receiver, say) are listed at once: *aside is the batch to restore; null without one
// (S_FALSE) or when the flush fails (E_OUTOFMEMORY, the batch stays open).
HRESULT setIdBatchAside(Vexo *database, IdBatch **aside);
void restoreIdBatch(Vexo *database, IdBatch *aside);
// Flushes and closes the batch (S_FALSE without one).
HRESULT closeIdBatch(Vexo *database);

// Inserts nodes of a class into an identifier-ordered list, one node per identifier
// (the first stays). Nodes without identifier are skipped; nodes that are not ElementId
// kinds (timings) are appended at the end. When record is given, inserted nodes get it
// as their group.
HRESULT insertIntoGroup(VexoNode *const *nodes, uint32_t n, const ChunkLayout &layout, Vexo *database,
                        uint32_t filterCode, ElementGroup *record, NodeList *target);

// Appends one node to a group's members, recording the group in identified nodes.
HRESULT appendChild(ElementGroup *group, ObjectBase *node);

// Searches an identifier-ordered list.
HRESULT findById(const NodeList *list, const VexoChar *id, ObjectBase **out);

}  // namespace vexo::core
