// Database creation and destruction, element identifiers, groups and qualified
// identifiers. Identifiers are ordered by ordinal comparison of UTF-16 units.
#include "vexo/core.h"
#include "database.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include <sys/mman.h>

#include "id_sort.h"
#include "sanitizers.h"
#include "text.h"
#include "vexo/constants.h"

namespace vexo::core {

namespace {

const VexoChar kSeparator[] = u"::";

// Orders an identifier against a listed node. Groups may also hold timings (appended at
// the end) and, when filled by appending, elements without identifier; those order after
// every identifier, so searches never read a field they do not have.
int orderById(const VexoChar *id, const void *entry)
{
    const auto *element = nodeAs<ElementId>(entry);
    if (element == nullptr || element->eid == nullptr)
        return -1;
    return compareUnits(id, element->eid);
}

// The same for an interned identifier (both sides interned: compared a word at a time).
int orderByInternedId(const VexoChar *id, const void *entry)
{
    const auto *element = nodeAs<ElementId>(entry);
    if (element == nullptr || element->eid == nullptr)
        return -1;
    return compareInterned(id, element->eid);
}

}  // namespace

// A batch's groups: tag k of a kept id names groups[k - 1], the group its node waits to join.
constexpr uint32_t kBatchGroups = 8;

struct IdBatch {
    SortedId *ids;  // in the order they were named
    uint32_t count;
    uint32_t capacity;
    size_t shared;  // the units all the kept ids share (SIZE_MAX: one id so far)
    ElementGroup *groups[kBatchGroups];
    uint32_t groupCount;
};

namespace {

// The memory of a thread's last batch, kept for its next one. An import's batch is about
// half a megabyte; it is mapped apart from the heap, which it would otherwise leave in
// pieces: the heap then grows and gives its top back to the system at every import, and
// fresh pages are slow to touch (on a virtual machine a page can cost some fifteen
// microseconds). Sanitizer builds take it from the heap, where overruns are caught.
struct SpareIds {
    SortedId *ids = nullptr;
    uint32_t capacity = 0;
    ~SpareIds();
};

constexpr uint32_t kSpareIdsAtMost = 1u << 16;  // 2 MiB: larger batches give their memory back

thread_local SpareIds spareIds;

size_t batchBytes(uint32_t capacity) { return size_t(capacity) * sizeof(SortedId); }

SortedId *mapIds(uint32_t capacity)
{
    if (allocationFails())
        return nullptr;
    if (kAddressSanitizer)
        return static_cast<SortedId *>(std::malloc(batchBytes(capacity)));
    void *block = mmap(nullptr, batchBytes(capacity), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block != MAP_FAILED ? static_cast<SortedId *>(block) : nullptr;
}

void unmapIds(SortedId *ids, uint32_t capacity)
{
    if (kAddressSanitizer)
        std::free(ids);
    else if (ids != nullptr)
        munmap(ids, batchBytes(capacity));
}

SpareIds::~SpareIds() { unmapIds(ids, capacity); }

void freeBatch(IdBatch *batch)
{
    if (batch == nullptr)
        return;
    if (batch->capacity <= kSpareIdsAtMost && batch->capacity > spareIds.capacity) {
        unmapIds(spareIds.ids, spareIds.capacity);
        spareIds.ids = batch->ids;
        spareIds.capacity = batch->capacity;
    } else {
        unmapIds(batch->ids, batch->capacity);
    }
    std::free(batch);
}

bool batchRoom(IdBatch *batch, uint32_t more)
{
    if (batch->capacity - batch->count >= more)
        return true;
    uint64_t capacity = batch->capacity == 0 ? 2048 : batch->capacity;  // 64 KiB
    while (capacity < uint64_t(batch->count) + more)
        capacity *= 2;
    if (capacity > UINT32_MAX / sizeof(SortedId))
        return false;
    SortedId *ids = nullptr;
    if (spareIds.capacity >= capacity) {
        ids = spareIds.ids;
        capacity = spareIds.capacity;
        spareIds.ids = nullptr;
        spareIds.capacity = 0;
    } else if ((ids = mapIds(static_cast<uint32_t>(capacity))) == nullptr) {
        return false;
    }
    if (batch->count > 0)
        std::memcpy(ids, batch->ids, batchBytes(batch->count));
    unmapIds(batch->ids, batch->capacity);
    batch->ids = ids;
    batch->capacity = static_cast<uint32_t>(capacity);
    return true;
}

const VexoChar *idOf(const ObjectBase *node) { return static_cast<const ElementId *>(node)->eid; }

// Keeps a node just named, and the units its id shares with the others: told while the id
// is fresh in the cache (mostly it agrees with the first on the units found so far, which
// is quicker to tell), the sort starts past them.
bool keepInBatch(IdBatch *batch, ObjectBase *node, const VexoChar *id)
{
    if (!batchRoom(batch, 1))
        return false;
    if (batch->count == 0) {
        batch->shared = SIZE_MAX;
    } else if (batch->shared > 0
               && (batch->shared == SIZE_MAX || !agreeInterned(batch->ids[0].id, id, batch->shared))) {
        size_t common = 0;
        compareInternedFrom(batch->ids[0].id, id, 0, &common);
        batch->shared = std::min(batch->shared, common);
    }
    batch->ids[batch->count] = {0, id, node, batch->count, 0};
    ++batch->count;
    return true;
}

// Where an interned id belongs in an id-ordered list: near the last insert first, else by
// bisecting the list. S_OK when an entry has the id.
HRESULT findIdPlace(NodeList *list, const VexoChar *id, ListPosition *position)
{
    const auto order = [id](const void *entry) { return orderByInternedId(id, entry); };
    *position = {nullptr, 0};
    HRESULT found = S_FALSE;
    if (!findNear(list, position, order, &found))
        found = findOrdered(list, position, order);
    return found;
}

// Whether a position found by findIdPlace is past the list's last entry.
bool atEnd(const NodeList *list, const ListPosition &position)
{
    return position.chunk == nullptr
           || (position.chunk == lastChunk(list->chunks) && position.index == position.chunk->count);
}

// Lists sorted, distinct nodes in the root group: each where insertIntoGroup puts it (an
// id listed before the batch keeps its node). The nodes after one that also belong before
// the entry there go in with it, in one move, when its chunk has the room; once the place
// is past the last entry, the rest are appended.
HRESULT listSorted(Vexo *database, void *const *nodes, uint32_t n, NodeList *root)
{
    const auto idAt = [nodes](uint32_t k) { return idOf(static_cast<const ObjectBase *>(nodes[k])); };
    for (uint32_t i = 0; i < n;) {
        ListPosition position;
        if (findIdPlace(root, idAt(i), &position) == S_OK) {
            ++i;
            continue;
        }
        if (atEnd(root, position)) {
            for (; i < n; ++i) {
                if (append(kLargeNodeLayout, database->allocator, root, nodes[i]) != S_OK)
                    return E_OUTOFMEMORY;
            }
            return S_OK;
        }
        // The run: the ids that fit into the chunk and belong before the entry there
        // (bisected).
        Chunk *chunk = position.chunk;
        const void *next = chunkEntries(chunk)[position.index];
        const uint32_t limit = i + std::min(n - i, chunk->capacity - chunk->count);
        uint32_t end = i + 1;
        for (uint32_t high = limit; end < high;) {
            const uint32_t middle = end + (high - end) / 2;
            if (orderByInternedId(idAt(middle), next) < 0)
                end = middle + 1;
            else
                high = middle;
        }
        HRESULT hr = end - i > 1 ? insertRun(database->allocator, root, position, nodes + i, end - i) : S_FALSE;
        if (hr == S_FALSE) {
            hr = insertOrdered(kLargeNodeLayout, database->allocator, root, position, nodes[i]) == S_OK ? S_OK
                                                                                                      : E_OUTOFMEMORY;
            end = i + 1;
        }
        if (hr != S_OK)
            return hr;
        i = end;
    }
    return S_OK;
}

// Puts the sorted batch's nodes that wait for a group into it, as insertIntoGroup would
// one after another: once a node went in at the group's end, the next one's place is
// past it.
HRESULT joinGroups(Vexo *database, const IdBatch &batch, const SortedId *ids, uint32_t n)
{
    const void *placed[kBatchGroups] = {};  // the node each group took last, while at its end
    const VexoChar *seen[kBatchGroups] = {};  // the id each group was offered last
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t tag = ids[i].tag;
        if (tag == 0)
            continue;
        ElementGroup *group = batch.groups[tag - 1];
        NodeList *list = &group->children;
        const VexoChar *id = ids[i].id;
        if (seen[tag - 1] == id)
            continue;  // the first node of an id stays
        seen[tag - 1] = id;
        Chunk *last = lastChunk(list->chunks);
        HRESULT hr = S_OK;
        if (last != nullptr && last->count > 0 && chunkEntries(last)[last->count - 1] == placed[tag - 1]) {
            hr = append(kSmallNodeLayout, database->allocator, list, ids[i].node);
        } else {
            ListPosition position;
            const HRESULT found = findIdPlace(list, id, &position);
            if (found == S_OK)
                continue;
            hr = atEnd(list, position) ? append(kSmallNodeLayout, database->allocator, list, ids[i].node)
                                        : insertOrdered(kSmallNodeLayout, database->allocator, list, position,
                                                        ids[i].node);
        }
        if (hr != S_OK)
            return E_OUTOFMEMORY;
        last = lastChunk(list->chunks);
        placed[tag - 1] = chunkEntries(last)[last->count - 1] == ids[i].node ? ids[i].node : nullptr;
        static_cast<ElementId *>(static_cast<ObjectBase *>(ids[i].node))->group = group;
    }
    return S_OK;
}

// Lists a batch's nodes in the root group, in order of their ids (repeats in the order
// named, so the first stays), and puts those waiting for groups into them.
HRESULT listBatch(Vexo *database, IdBatch &batch, NodeList *root)
{
    SortedId *ids = batch.ids;
    const uint32_t n = batch.count;
    batch.count = 0;
    sortInternedIds(ids, n, n > 1 ? batch.shared : 0);
    const HRESULT joined = joinGroups(database, batch, ids, n);
    batch.groupCount = 0;
    // The first node of each id, in order (sorted interned ids: a repeat is the same text
    // as the one before it), gathered at the front of the batch's memory: the k-th pointer
    // lands inside record k / 4, which is read by then.
    auto *front = reinterpret_cast<unsigned char *>(ids);
    uint32_t distinct = 0;
    const VexoChar *previous = nullptr;
    for (uint32_t i = 0; i < n; ++i) {
        const VexoChar *id = ids[i].id;
        void *node = ids[i].node;
        if (i > 0 && id == previous)
            continue;
        previous = id;
        std::memcpy(front + size_t(distinct++) * sizeof(void *), &node, sizeof node);
    }
    const HRESULT listed = listSorted(database, reinterpret_cast<void *const *>(front), distinct, root);
    return joined != S_OK ? joined : listed;
}

// The tag of a group in a batch, adding it; 0 when the batch has no room for another.
uint32_t groupTag(IdBatch *batch, ElementGroup *group)
{
    for (uint32_t k = 0; k < batch->groupCount; ++k) {
        if (batch->groups[k] == group)
            return k + 1;
    }
    if (batch->groupCount == kBatchGroups)
        return 0;
    batch->groups[batch->groupCount++] = group;
    return batch->groupCount;
}

bool waitsInBatch(const IdBatch *batch, const ElementGroup *group)
{
    return std::find(batch->groups, batch->groups + batch->groupCount, group) != batch->groups + batch->groupCount;
}

void destroyDatabase(Vexo *database)
{
    freeBatch(database->idBatch);
    database->idBatch = nullptr;
    for (DerivedBlock *block = database->derived; block != nullptr;) {
        DerivedBlock *next = block->next;
        block->release(block);
        block = next;
    }
    database->derived = nullptr;
    if (database->strings != nullptr)
        destroyStringTable(database->strings);
    if (database->allocator != nullptr)
        destroyAllocator(database->allocator);
    database->nodetype = 0;
    std::free(database);
}

HRESULT createGroup(Vexo *database, const VexoChar *id, ObjectBase *parent, ElementGroup **out)
{
    VexoNode *group = nullptr;
    const HRESULT hr = Vexo_createElementGroup(reinterpret_cast<VexoNode *>(database), id,
                                               reinterpret_cast<VexoNode *>(parent), nullptr, &group);
    if (group != nullptr)
        *out = static_cast<ElementGroup *>(reinterpret_cast<ObjectBase *>(group));
    return hr;
}

HRESULT buildDatabase(Vexo *database, const VexoChar *id)
{
    HRESULT hr = createAllocator(kTrackingAllocator, 0, &database->allocator);
    if (hr != S_OK)
        return hr;
    auto *collections = allocateNode<DatabaseCollections>(database);
    if (collections == nullptr)
        return E_OUTOFMEMORY;
    database->reference = collections;
    if ((hr = createStringTable(database->allocator, &database->strings)) != S_OK)
        return hr;
    if ((hr = createGroup(database, nullptr, nullptr, &collections->identElements)) != S_OK)
        return hr;
    // ORDER DEFAULT_GROUPS
    struct Named {
        const VexoChar *id;
        ElementGroup **field;
    };
    const Named named[] = {
        {Q3_GROUPNAME_CLUSTERS, &collections->clusters}, {Q3_GROUPNAME_ECUS, &collections->ECUs},
        {Q3_GROUPNAME_PDUS, &collections->PDUs},         {Q3_GROUPNAME_FRAMES, &collections->frames},
        {Q3_GROUPNAME_SIGNALS, &collections->signals},   {Q3_GROUPNAME_CODINGS, &collections->codings},
        {Q3_GROUPNAME_VIEWS, &collections->views},
    };
    for (const Named &group : named) {
        if ((hr = createGroup(database, group.id, collections, group.field)) != S_OK)
            return hr;
    }
    return setElementId(database, database, id);
}

}  // namespace

void noteChange(const void *node)
{
    if (Vexo *database = databaseOf(node))
        countChange(database->allocator);
}

void keepDerived(Vexo *database, DerivedBlock *block)
{
    block->next = database->derived;
    database->derived = block;
}

std::mutex &derivedLock()
{
    static std::mutex lock;
    return lock;
}

HRESULT collectionsOf(const void *handle, DatabaseCollections **out)
{
    if (handle == nullptr || out == nullptr)
        return E_POINTER;
    if (auto *collections = nodeExactly<DatabaseCollections>(handle)) {
        *out = collections;
        return S_OK;
    }
    Vexo *database = databaseAs(handle);
    if (database == nullptr)
        return E_INVALIDARG;
    auto *collections = nodeExactly<DatabaseCollections>(database->reference);
    if (collections == nullptr)
        return S_FALSE;
    *out = collections;
    return S_OK;
}

HRESULT setElementId(Vexo *database, ObjectBase *node, const VexoChar *id)
{
    auto *element = nodeAs<ElementId>(node);
    if (databaseAs(database) == nullptr || element == nullptr)
        return E_INVALIDARG;
    if (element->eid != nullptr)
        return E_UNEXPECTED;
    if (id == nullptr)
        return S_OK;
    const VexoChar *interned = intern(database->strings, id);
    if (interned == nullptr)
        return E_OUTOFMEMORY;
    element->eid = interned;
    DatabaseCollections *collections = nullptr;
    if (collectionsOf(database, &collections) != S_OK || collections->identElements == nullptr)
        return S_OK;
    if (database->idBatch != nullptr)
        return keepInBatch(database->idBatch, node, interned) ? S_OK : E_OUTOFMEMORY;
    VexoNode *entry = reinterpret_cast<VexoNode *>(node);
    return insertIntoGroup(&entry, 1, kLargeNodeLayout, database, ElementId::kCode, nullptr,
                           &collections->identElements->children);
}

HRESULT openIdBatch(Vexo *database)
{
    if (database->idBatch != nullptr)
        return S_FALSE;
    database->idBatch = static_cast<IdBatch *>(std::calloc(1, sizeof(IdBatch)));
    return database->idBatch != nullptr ? S_OK : E_OUTOFMEMORY;
}

bool reserveIdBatch(Vexo *database, uint32_t more)
{
    return database->idBatch == nullptr || batchRoom(database->idBatch, more);
}

HRESULT flushIdBatch(Vexo *database)
{
    IdBatch *batch = database->idBatch;
    if (batch == nullptr)
        return S_FALSE;
    DatabaseCollections *collections = nullptr;
    if (batch->count == 0 || collectionsOf(database, &collections) != S_OK || collections->identElements == nullptr) {
        batch->count = 0;
        batch->groupCount = 0;
        return S_OK;
    }
    return listBatch(database, *batch, &collections->identElements->children);
}

HRESULT setIdBatchAside(Vexo *database, IdBatch **aside)
{
    *aside = nullptr;
    const HRESULT hr = flushIdBatch(database);
    if (hr == S_OK) {
        *aside = database->idBatch;
        database->idBatch = nullptr;
    }
    return hr;
}

void restoreIdBatch(Vexo *database, IdBatch *aside)
{
    if (aside == nullptr)
        return;
    if (database->idBatch == nullptr)
        database->idBatch = aside;
    else
        freeBatch(aside);  // a batch opened meanwhile and still open: this one is empty
}

HRESULT closeIdBatch(Vexo *database)
{
    const HRESULT hr = flushIdBatch(database);
    freeBatch(database->idBatch);
    database->idBatch = nullptr;
    return hr;
}

HRESULT insertIntoGroup(VexoNode *const *nodes, uint32_t n, const ChunkLayout &layout, Vexo *database,
                        uint32_t filterCode, ElementGroup *record, NodeList *target)
{
    if (nodes == nullptr)
        return E_POINTER;
    for (uint32_t i = 0; i < n; ++i) {
        const void *handle = nodes[i];
        if (handle == nullptr || !isGenuineCode(codeOf(handle)) || !derivesFrom(codeOf(handle), filterCode)
            || !ownedBy(handle, database))
            continue;
        auto *node = static_cast<ObjectBase *>(const_cast<void *>(handle));
        auto *element = nodeAs<ElementId>(node);
        if (element == nullptr) {
            if (append(layout, database->allocator, target, node) != S_OK)
                return E_OUTOFMEMORY;
            continue;
        }
        if (element->eid == nullptr)
            continue;
        if (IdBatch *batch = database->idBatch; batch != nullptr && batch->count > 0) {
            // The node the batch kept last (just named) waits with it for its group.
            SortedId &last = batch->ids[batch->count - 1];
            if (last.node == node && last.tag == 0 && record != nullptr && target == &record->children
                && layout.capacity == kSmallNodeLayout.capacity && (last.tag = groupTag(batch, record)) != 0)
                continue;
            if (flushIdBatch(database) == E_OUTOFMEMORY)
                return E_OUTOFMEMORY;
        }
        ListPosition position;
        if (findIdPlace(target, element->eid, &position) == S_OK)
            continue;
        if (insertOrdered(layout, database->allocator, target, position, node) != S_OK)
            return E_OUTOFMEMORY;
        if (record != nullptr)
            element->group = record;
    }
    return S_OK;
}

HRESULT appendChild(ElementGroup *group, ObjectBase *node)
{
    // Members still waiting in a batch go in first, as they were added first.
    if (IdBatch *batch = group->database->idBatch; batch != nullptr && waitsInBatch(batch, group)) {
        if (flushIdBatch(group->database) == E_OUTOFMEMORY)
            return E_OUTOFMEMORY;
    }
    const HRESULT hr = append(kSmallNodeLayout, group->database->allocator, &group->children, node);
    if (hr == S_OK) {
        if (auto *element = nodeAs<ElementId>(node))
            element->group = group;
    }
    return hr;
}

HRESULT findById(const NodeList *list, const VexoChar *id, ObjectBase **out)
{
    ListPosition position = {nullptr, 0};
    if (findOrdered(list, &position, [id](const void *entry) { return orderById(id, entry); }) != S_OK)
        return S_FALSE;
    *out = static_cast<ObjectBase *>(entryAt(position));
    return S_OK;
}

}  // namespace vexo::core

using namespace vexo::core;

VEXO_API HRESULT Vexo_create(const VexoChar *id, VexoNode **out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    auto *database = static_cast<Vexo *>(std::calloc(1, sizeof(Vexo)));
    if (database == nullptr)
        return E_OUTOFMEMORY;
    new (database) Vexo();
    database->nodetype = Vexo::kCode;
    database->database = database;
    const HRESULT hr = buildDatabase(database, id);
    if (hr != S_OK) {
        destroyDatabase(database);
        return hr;
    }
    *out = reinterpret_cast<VexoNode *>(database);
    return S_OK;
}

VEXO_API HRESULT Vexo_destroy(VexoNode *handle)
{
    Vexo *database = databaseAs(handle);
    if (database == nullptr)
        return E_INVALIDARG;
    destroyDatabase(database);
    return S_OK;
}

VEXO_API HRESULT Vexo_getDatabaseCollections(VexoNode *database, VexoNode **out)
{
    if (database == nullptr || out == nullptr)
        return E_POINTER;
    DatabaseCollections *collections = nullptr;
    const HRESULT hr = collectionsOf(database, &collections);
    if (hr == S_OK)
        *out = reinterpret_cast<VexoNode *>(collections);
    return hr;
}

VEXO_API HRESULT Vexo_findByElementId(VexoNode *handle, const VexoChar *id, VexoNode **out)
{
    Vexo *database = databaseAs(handle);
    if (database == nullptr || id == nullptr || out == nullptr)
        return E_INVALIDARG;
    DatabaseCollections *collections = nullptr;
    if (collectionsOf(database, &collections) != S_OK || collections->identElements == nullptr)
        return S_FALSE;
    ObjectBase *found = nullptr;
    if (findById(&collections->identElements->children, id, &found) != S_OK)
        return S_FALSE;
    *out = reinterpret_cast<VexoNode *>(found);
    return S_OK;
}

VEXO_API HRESULT Vexo_findChildByElementId(VexoNode *handle, const VexoChar *id, VexoNode **out)
{
    auto *group = nodeAs<ElementGroup>(handle);
    if (group == nullptr || id == nullptr || out == nullptr)
        return E_INVALIDARG;
    ObjectBase *found = nullptr;
    if (findById(&group->children, id, &found) != S_OK)
        return S_FALSE;
    *out = reinterpret_cast<VexoNode *>(found);
    return S_OK;
}

VEXO_API HRESULT Vexo_createElementGroup(VexoNode *handle, const VexoChar *id, VexoNode *parent,
                                         VexoNode *reference, VexoNode **out)
{
    if (out == nullptr)
        return E_POINTER;
    Vexo *database = databaseAs(handle);
    if (database == nullptr)
        return E_INVALIDARG;
    if (reference != nullptr && (nodeAs<ElementId>(reference) == nullptr || !ownedBy(reference, database)))
        return E_INVALIDARG;
    // A parent of another database would refuse the group only after it was made.
    if (foreignTo(parent, database))
        return E_INVALIDARG;
    ElementGroup *group = allocateNode<ElementGroup>(database);
    if (group == nullptr)
        return E_OUTOFMEMORY;
    *out = reinterpret_cast<VexoNode *>(group);
    group->reference = reinterpret_cast<ObjectBase *>(reference);
    const HRESULT hr = setElementId(database, group, id);
    if (hr != S_OK || parent == nullptr)
        return hr;
    return Vexo_appendChildren(parent, 1, out);
}

VEXO_API HRESULT Vexo_appendChildren(VexoNode *handle, uint32_t n, VexoNode *const *nodes)
{
    auto *group = nodeAs<ElementGroup>(handle);
    if (group == nullptr)
        return E_INVALIDARG;
    if (nodes == nullptr)
        return E_POINTER;
    for (uint32_t i = 0; i < n; ++i) {
        const void *node = nodes[i];
        // Timings and records are taken like any node, but only the group's database's own.
        if (node == nullptr || !isGenuineCode(codeOf(node)) || !ownedBy(node, group->database))
            continue;
        // Unlike a skipped entry, a failed append would silently lose a member.
        if (appendChild(group, static_cast<ObjectBase *>(const_cast<void *>(node))) != S_OK)
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

VEXO_API HRESULT Vexo_insertChildren(VexoNode *handle, uint32_t n, VexoNode *const *nodes)
{
    auto *group = nodeAs<ElementGroup>(handle);
    if (group == nullptr)
        return E_INVALIDARG;
    if (nodes == nullptr)
        return E_POINTER;
    return insertIntoGroup(nodes, n, kSmallNodeLayout, group->database, ObjectBase::kCode, group,
                           &group->children);
}

VEXO_API HRESULT Vexo_getQualifiedId(const VexoNode *database, const VexoNode *element, VexoString *out)
{
    const auto *db = nodeAs<ElementId>(database);
    const auto *node = nodeAs<ElementId>(element);
    if (db == nullptr || node == nullptr || out == nullptr)
        return E_INVALIDARG;
    const size_t dbLength = db->eid != nullptr ? unitLength(db->eid) : 0;
    const size_t idLength = node->eid != nullptr ? unitLength(node->eid) : 0;
    const size_t length = db->eid != nullptr ? dbLength + 2 + idLength : idLength;
    VexoString result = newCallerString(nullptr, length);
    if (result == nullptr)
        return E_OUTOFMEMORY;
    VexoChar *cursor = result;
    if (db->eid != nullptr) {
        cursor = std::copy(db->eid, db->eid + dbLength, cursor);
        cursor = std::copy(kSeparator, kSeparator + 2, cursor);
    }
    if (node->eid != nullptr)
        std::copy(node->eid, node->eid + idLength, cursor);
    *out = result;
    return S_OK;
}

VEXO_API HRESULT Vexo_splitQualifiedId(const VexoChar *qualified, VexoString *dbId, VexoString *elementId)
{
    if (qualified == nullptr)
        return E_INVALIDARG;
    const std::u16string_view text(qualified, unitLength(qualified));
    const size_t cut = text.find(kSeparator);
    const std::u16string_view dbPart = cut == text.npos ? std::u16string_view() : text.substr(0, cut);
    const std::u16string_view elementPart = cut == text.npos ? text : text.substr(cut + 2);
    bool written = false;
    if (dbId != nullptr && !dbPart.empty()) {
        VexoString s = newCallerString(dbPart.data(), dbPart.size());
        if (s == nullptr)
            return E_OUTOFMEMORY;
        *dbId = s;
        written = true;
    }
    if (elementId != nullptr) {
        VexoString s = newCallerString(elementPart.data(), elementPart.size());
        if (s == nullptr)
            return E_OUTOFMEMORY;
        *elementId = s;
        written = true;
    }
    return written ? S_OK : E_INVALIDARG;
}
