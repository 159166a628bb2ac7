// Enumerators over the model's node lists and record lists, and the functions that aim
// them at a particular list. An enumerator is reused when the caller passes it back, so
// walking many small lists (a frame's PDU instances, a PDU's signal instances) costs one
// allocation in all.
#include "vexo/enumerate.h"
#include "enumerator.h"

#include <cstdlib>

#include "database.h"

namespace vexo::model {

using core::ChunkLayout;
using core::NodeList;
using core::RecordList;

Enumerator *enumeratorAs(const void *handle)
{
    if (handle == nullptr)
        return nullptr;
    const uint32_t magic = core::firstWord(handle);
    if (magic != kNodeEnumeratorMagic && magic != kRecordEnumeratorMagic)
        return nullptr;
    return static_cast<Enumerator *>(const_cast<void *>(handle));
}

namespace {

// The enumerator to aim: the one in *handle, or a new one stored there.
HRESULT takeEnumerator(VexoEnumerator **handle, Enumerator **out)
{
    if (handle == nullptr)
        return E_INVALIDARG;
    if (*handle != nullptr) {
        Enumerator *reused = enumeratorAs(*handle);
        if (reused == nullptr)
            return E_INVALIDARG;
        *out = reused;
        return S_OK;
    }
    auto *fresh = static_cast<Enumerator *>(std::calloc(1, sizeof(Enumerator)));
    if (fresh == nullptr)
        return E_OUTOFMEMORY;
    *handle = reinterpret_cast<VexoEnumerator *>(fresh);
    *out = fresh;
    return S_OK;
}

}  // namespace

HRESULT aimAtNodes(VexoEnumerator **handle, const ChunkLayout &layout, const NodeList &list)
{
    Enumerator *enumerator = nullptr;
    const HRESULT hr = takeEnumerator(handle, &enumerator);
    if (hr != S_OK)
        return hr;
    enumerator->magic = kNodeEnumeratorMagic;
    core::cursorInit(&enumerator->cursor, &layout, &list);
    return S_OK;
}

HRESULT aimAtRecords(VexoEnumerator **handle, const ChunkLayout &layout, const RecordList &list)
{
    Enumerator *enumerator = nullptr;
    const HRESULT hr = takeEnumerator(handle, &enumerator);
    if (hr != S_OK)
        return hr;
    enumerator->magic = kRecordEnumeratorMagic;
    core::cursorInit(&enumerator->cursor, &layout, &list);
    return S_OK;
}

uint32_t countEntries(const Enumerator &enumerator)
{
    core::Chunk *first = core::firstChunk(*enumerator.cursor.list);
    if (first == nullptr)
        return 0;
    uint32_t total = 0;
    core::Chunk *chunk = first;
    do {
        total += chunk->count;
        chunk = core::nextChunk(chunk);
    } while (chunk != first);
    return total;
}

HRESULT nextEntries(Enumerator &enumerator, uint32_t wanted, void **out, uint32_t *fetched)
{
    if (enumerator.magic == kRecordEnumeratorMagic)
        return core::cursorNextRecords(&enumerator.cursor, wanted, out, fetched);
    return core::cursorNext(&enumerator.cursor, wanted, out, fetched);
}

}  // namespace vexo::model

using namespace vexo::core;
using namespace vexo::model;

namespace {

// The default groups, one accessor per enumeration function.
using GroupField = ElementGroup *DatabaseCollections::*;

HRESULT aimAtGroup(VexoNode *database, GroupField field, VexoEnumerator **handle)
{
    DatabaseCollections *collections = nullptr;
    const HRESULT hr = collectionsOf(database, &collections);
    if (hr != S_OK)
        return hr;
    // The root group's chunks are made with the large layout. A node-list cursor never
    // reads its layout, but recording the one that made the chunks keeps it truthful.
    const ChunkLayout &layout = field == &DatabaseCollections::identElements ? kLargeNodeLayout : kSmallNodeLayout;
    const auto *group = nodeAs<ElementGroup>(collections->*field);
    if (group == nullptr)
        return E_INVALIDARG;
    return aimAtNodes(handle, layout, group->children);
}

HRESULT aimAt(const NodeList *list, VexoEnumerator **handle)
{
    if (list == nullptr)
        return E_INVALIDARG;
    return aimAtNodes(handle, kSmallNodeLayout, *list);
}

}  // namespace

VEXO_API HRESULT Vexo_enumIdentElements(VexoNode *database, VexoEnumerator **enumerator)
{
    return aimAtGroup(database, &DatabaseCollections::identElements, enumerator);
}

VEXO_API HRESULT Vexo_enumClusters(VexoNode *database, VexoEnumerator **enumerator)
{
    return aimAtGroup(database, &DatabaseCollections::clusters, enumerator);
}

VEXO_API HRESULT Vexo_enumECUs(VexoNode *database, VexoEnumerator **enumerator)
{
    return aimAtGroup(database, &DatabaseCollections::ECUs, enumerator);
}

VEXO_API HRESULT Vexo_enumPDUs(VexoNode *database, VexoEnumerator **enumerator)
{
    return aimAtGroup(database, &DatabaseCollections::PDUs, enumerator);
}

VEXO_API HRESULT Vexo_enumFrames(VexoNode *database, VexoEnumerator **enumerator)
{
    return aimAtGroup(database, &DatabaseCollections::frames, enumerator);
}

VEXO_API HRESULT Vexo_enumSignals(VexoNode *database, VexoEnumerator **enumerator)
{
    return aimAtGroup(database, &DatabaseCollections::signals, enumerator);
}

VEXO_API HRESULT Vexo_enumCodings(VexoNode *database, VexoEnumerator **enumerator)
{
    return aimAtGroup(database, &DatabaseCollections::codings, enumerator);
}

VEXO_API HRESULT Vexo_enumViews(VexoNode *database, VexoEnumerator **enumerator)
{
    return aimAtGroup(database, &DatabaseCollections::views, enumerator);
}

VEXO_API HRESULT Vexo_enumChildren(VexoNode *group, VexoEnumerator **enumerator)
{
    const auto *node = nodeAs<ElementGroup>(group);
    return aimAt(node != nullptr ? &node->children : nullptr, enumerator);
}

VEXO_API HRESULT Vexo_enumFrameTriggerings(VexoNode *owner, VexoEnumerator **enumerator)
{
    const NodeList *list = nullptr;
    if (const auto *channel = nodeExactly<Channel>(owner))
        list = &channel->frameTriggerings;
    else if (const auto *frame = nodeExactly<Frame>(owner))
        list = &frame->frameTriggerings;
    return aimAt(list, enumerator);
}

VEXO_API HRESULT Vexo_enumPDUTriggerings(VexoNode *owner, VexoEnumerator **enumerator)
{
    const NodeList *list = nullptr;
    if (const auto *channel = nodeExactly<Channel>(owner))
        list = &channel->PDUTriggerings;
    else if (const auto *pdu = nodeAs<PDU>(owner))
        list = &pdu->triggerings;
    return aimAt(list, enumerator);
}

// A channel's PDU instances are reachable too: the add function fills that list, and a
// list that can be filled but never read would only hide data.
VEXO_API HRESULT Vexo_enumPDUInstances(VexoNode *owner, VexoEnumerator **enumerator)
{
    const NodeList *list = nullptr;
    if (const auto *frame = nodeExactly<Frame>(owner))
        list = &frame->PDUInstances;
    else if (const auto *channel = nodeExactly<Channel>(owner))
        list = &channel->PDUInstances;
    return aimAt(list, enumerator);
}

VEXO_API HRESULT Vexo_enumSignalInstances(VexoNode *owner, VexoEnumerator **enumerator)
{
    const NodeList *list = nullptr;
    if (const auto *pdu = nodeExactly<SignalPDU>(owner))
        list = &pdu->signalInstances;
    else if (const auto *signal = nodeExactly<Signal>(owner))
        list = &signal->signalInstances;
    return aimAt(list, enumerator);
}

VEXO_API HRESULT Vexo_enumParents(VexoNode *pdu, VexoEnumerator **enumerator)
{
    const auto *node = nodeAs<PDU>(pdu);
    return aimAt(node != nullptr ? &node->parents : nullptr, enumerator);
}

VEXO_API HRESULT Vexo_enumDynamicParts(VexoNode *multiplexedPdu, VexoEnumerator **enumerator)
{
    const auto *node = nodeExactly<MultiplexedPDU>(multiplexedPdu);
    return aimAt(node != nullptr ? &node->dynamicParts : nullptr, enumerator);
}

VEXO_API HRESULT Vexo_enumInternalToPhysicalComputations(VexoNode *coding, VexoEnumerator **enumerator)
{
    const auto *node = nodeExactly<Coding>(coding);
    return aimAt(node != nullptr ? &node->internalToPhysicalCompus : nullptr, enumerator);
}

VEXO_API HRESULT Vexo_enumPhysicalToInternalComputations(VexoNode *coding, VexoEnumerator **enumerator)
{
    const auto *node = nodeExactly<Coding>(coding);
    return aimAt(node != nullptr ? &node->physicalToInternalCompus : nullptr, enumerator);
}

VEXO_API HRESULT Vexo_enumSegments(VexoNode *part, VexoEnumerator **enumerator)
{
    const auto *node = nodeExactly<MultiplexedPart>(part);
    if (node == nullptr)
        return E_INVALIDARG;
    return aimAtRecords(enumerator, kSegmentLayout, node->segments);
}

VEXO_API HRESULT Vexo_enumRanges(VexoNode *computation, VexoEnumerator **enumerator)
{
    const auto *node = nodeAs<Computation>(computation);
    if (node == nullptr)
        return E_INVALIDARG;
    return aimAtRecords(enumerator, kRangeLayout, node->ranges);
}

VEXO_API HRESULT Vexo_enumeratorGetCount(const VexoEnumerator *handle, uint32_t *count)
{
    const Enumerator *enumerator = enumeratorAs(handle);
    if (enumerator == nullptr || count == nullptr)
        return E_INVALIDARG;
    *count = countEntries(*enumerator);
    return S_OK;
}

VEXO_API HRESULT Vexo_enumeratorReset(VexoEnumerator *handle)
{
    Enumerator *enumerator = enumeratorAs(handle);
    if (enumerator == nullptr)
        return E_INVALIDARG;
    // Reads the first chunk afresh: a list that had none when the enumerator was aimed
    // may have one now.
    cursorReset(&enumerator->cursor);
    return S_OK;
}

VEXO_API HRESULT Vexo_enumeratorSkip(VexoEnumerator *handle, uint32_t count)
{
    Enumerator *enumerator = enumeratorAs(handle);
    if (enumerator == nullptr)
        return E_INVALIDARG;
    return cursorSkip(&enumerator->cursor, count);
}

VEXO_API HRESULT Vexo_enumeratorNext(VexoEnumerator *handle, uint32_t wanted, VexoNode **entries, uint32_t *fetched)
{
    Enumerator *enumerator = enumeratorAs(handle);
    if (enumerator == nullptr || entries == nullptr)
        return E_INVALIDARG;
    return nextEntries(*enumerator, wanted, reinterpret_cast<void **>(entries), fetched);
}

VEXO_API HRESULT Vexo_enumeratorFindNext(VexoEnumerator *handle, const void *key, VexoEnumCompare compare)
{
    Enumerator *enumerator = enumeratorAs(handle);
    if (enumerator == nullptr || enumerator->magic != kNodeEnumeratorMagic || compare == nullptr)
        return E_INVALIDARG;
    ListCursor &cursor = enumerator->cursor;
    if (cursor.chunk == nullptr || cursor.nodes == nullptr)
        return S_FALSE;
    ListPosition position = {cursor.chunk, cursor.index};
    const HRESULT hr = findOrdered(cursor.nodes, &position, [key, compare](const void *entry) {
        return static_cast<int>(compare(key, static_cast<const VexoNode *>(entry)));
    });
    cursorMoveTo(&cursor, position);
    return hr;
}

VEXO_API HRESULT Vexo_enumeratorDestroy(VexoEnumerator *handle)
{
    Enumerator *enumerator = enumeratorAs(handle);
    if (enumerator == nullptr)
        return E_INVALIDARG;
    enumerator->magic = 0;
    std::free(enumerator);
    return S_OK;
}
