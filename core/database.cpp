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

struct IdBatch {
    ObjectBase **nodes;  // in the order they were named
    uint32_t count;
    uint32_t capacity;
};

namespace {

void freeBatch(IdBatch *batch)
{
    if (batch != nullptr)
        std::free(batch->nodes);
    std::free(batch);
}

bool keepInBatch(IdBatch *batch, ObjectBase *node)
{
    if (batch->count == batch->capacity) {
        const uint32_t capacity = batch->capacity == 0 ? 256 : batch->capacity * 2;
        auto *grown = capacity > batch->capacity
                          ? static_cast<ObjectBase **>(std::realloc(batch->nodes, capacity * sizeof(ObjectBase *)))
                          : nullptr;
        if (grown == nullptr)
            return false;
        batch->nodes = grown;
        batch->capacity = capacity;
    }
    batch->nodes[batch->count++] = node;
    return true;
}

const VexoChar *idOf(const ObjectBase *node) { return static_cast<const ElementId *>(node)->eid; }

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

// Sorts nodes stably by their ids, which all share their first `shared` units. A frame's
// few dozen go by binary insertion, each comparison starting past the units the id shares
// with both ends of the range still open (the ids placed so far are in order); more go
// by merging.
void sortIds(ObjectBase **nodes, uint32_t n, size_t shared)
{
    if (n > 256) {
        std::stable_sort(nodes, nodes + n, [shared](const ObjectBase *a, const ObjectBase *b) {
            size_t common = 0;
            return compareInternedFrom(idOf(a), idOf(b), shared, &common) < 0;
        });
        return;
    }
    for (uint32_t i = 1; i < n; ++i) {
        ObjectBase *node = nodes[i];
        const VexoChar *id = idOf(node);
        uint32_t lo = 0, hi = i;
        size_t lowCommon = shared, highCommon = shared;
        while (lo < hi) {
            const uint32_t middle = lo + (hi - lo) / 2;
            size_t common = 0;
            if (compareInternedFrom(id, idOf(nodes[middle]), std::min(lowCommon, highCommon), &common) < 0) {
                hi = middle;
                highCommon = common;
            } else {  // equal ids keep the order they were named in
                lo = middle + 1;
                lowCommon = common;
            }
        }
        std::memmove(nodes + lo + 1, nodes + lo, size_t(i - lo) * sizeof(ObjectBase *));
        nodes[lo] = node;
    }
}

// Lists a batch's nodes in the root group, in order of their ids (repeats in the order
// named, so the first stays). Each id is placed as insertIntoGroup places it; the ids
// after it that also belong before the entry there go in with it, in one move, when its
// chunk has the room.
HRESULT listBatch(Vexo *database, IdBatch &batch, NodeList *root)
{
    ObjectBase **nodes = batch.nodes;
    const uint32_t n = batch.count;
    batch.count = 0;
    // The units all the ids share (the database's name, mostly): the sort's comparisons
    // start past them.
    size_t shared = SIZE_MAX;
    for (uint32_t i = 1; i < n && shared > 0; ++i) {
        // Mostly the ids agree on the units found so far, which is quicker to tell.
        if (shared != SIZE_MAX && agreeInterned(idOf(nodes[0]), idOf(nodes[i]), shared))
            continue;
        size_t common = 0;
        compareInternedFrom(idOf(nodes[0]), idOf(nodes[i]), 0, &common);
        shared = std::min(shared, common);
    }
    shared = n > 1 ? shared : 0;
    sortIds(nodes, n, shared);
    // Sorted interned ids: a repeat is the same text as the one before it.
    const auto repeats = [nodes](uint32_t k) { return idOf(nodes[k - 1]) == idOf(nodes[k]); };
    for (uint32_t i = 0; i < n;) {
        if (i > 0 && repeats(i)) {
            ++i;  // named before in this batch
            continue;
        }
        ListPosition position;
        if (findIdPlace(root, idOf(nodes[i]), &position) == S_OK) {
            ++i;  // listed before the batch
            continue;
        }
        uint32_t end = i + 1;
        if (Chunk *chunk = position.chunk) {
            // The run: the ids up to the first repeat that fit into the chunk and belong
            // before the entry there (bisected), or go at the list's end.
            const void *next = position.index < chunk->count ? chunkEntries(chunk)[position.index] : nullptr;
            uint32_t limit = i + 1;
            while (limit < n && limit - i < chunk->capacity - chunk->count && !repeats(limit))
                ++limit;
            if (next != nullptr) {
                for (uint32_t high = limit; end < high;) {
                    const uint32_t middle = end + (high - end) / 2;
                    if (orderByInternedId(idOf(nodes[middle]), next) < 0)
                        end = middle + 1;
                    else
                        high = middle;
                }
            } else if (chunk == lastChunk(root->chunks)) {
                end = limit;
            }
        }
        void *const *run = reinterpret_cast<void *const *>(nodes + i);
        HRESULT hr = end - i > 1 ? insertRun(database->allocator, root, position, run, end - i) : S_FALSE;
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
        return keepInBatch(database->idBatch, node) ? S_OK : E_OUTOFMEMORY;
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

HRESULT flushIdBatch(Vexo *database)
{
    IdBatch *batch = database->idBatch;
    if (batch == nullptr)
        return S_FALSE;
    DatabaseCollections *collections = nullptr;
    if (batch->count == 0 || collectionsOf(database, &collections) != S_OK || collections->identElements == nullptr)
        return S_OK;
    return listBatch(database, *batch, &collections->identElements->children);
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
