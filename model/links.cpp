// Links between elements: single links, the database's default groups, relation lists
// and the inline segment and value-range records. Lists only grow. Relation lists keep
// every append (duplicates too); default groups and dynamic parts hold each identifier
// or switch code once. Running out of memory is reported, never a silently lost entry.
#include "vexo/model.h"

#include <new>
#include <type_traits>

#include "database.h"
#include "links.h"

using namespace vexo::core;
using vexo::model::sameDatabase;

namespace {

// A link target: an ElementId kind of the same database as the node holding the link.
ElementId *linkTarget(const void *holder, const void *target)
{
    ElementId *element = nodeAs<ElementId>(target);
    return element != nullptr && sameDatabase(holder, element) ? element : nullptr;
}

// Optional links of a frame triggering: null clears the link; a node that is not a T
// of the triggering's database is E_FAIL and changes nothing. The channel and frame
// are the parent and reference fields that FrameTriggering inherits.
template <class T, class Base, class Field>
HRESULT setTriggeringLink(VexoNode *triggering, VexoNode *target, Field Base::*field)
{
    static_assert(std::is_base_of_v<Base, FrameTriggering>, "a field of frame triggerings");
    auto *holder = nodeAs<FrameTriggering>(triggering);
    if (holder == nullptr)
        return E_INVALIDARG;
    T *typed = nullptr;
    if (target != nullptr) {
        typed = nodeAs<T>(target);
        if (typed == nullptr || !sameDatabase(holder, typed))
            return E_FAIL;
    }
    holder->*field = typed;
    noteChange(holder);
    return S_OK;
}

HRESULT setPart(VexoNode *multiplexedPdu, VexoNode *part, MultiplexedPart *MultiplexedPDU::*field)
{
    auto *pdu = nodeExactly<MultiplexedPDU>(multiplexedPdu);
    auto *typed = nodeExactly<MultiplexedPart>(part);
    if (pdu == nullptr || typed == nullptr || !sameDatabase(pdu, typed))
        return E_INVALIDARG;
    typed->parent = pdu;
    pdu->*field = typed;
    noteChange(pdu);
    return S_OK;
}

HRESULT addToDefaultGroup(VexoNode *handle, ElementGroup *DatabaseCollections::*field, uint32_t filterCode,
                          uint32_t n, VexoNode *const *nodes)
{
    DatabaseCollections *collections = nullptr;
    const HRESULT hr = collectionsOf(handle, &collections);
    if (hr != S_OK)
        return hr;
    ElementGroup *group = nodeAs<ElementGroup>(collections->*field);
    if (group == nullptr)
        return E_INVALIDARG;
    if (nodes == nullptr)
        return E_POINTER;
    for (uint32_t i = 0; i < n; ++i) {
        if (nodes[i] == nullptr)
            continue;
        if (insertIntoGroup(&nodes[i], 1, kSmallNodeLayout, group->database, filterCode, group, &group->children)
            != S_OK)
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

enum class OwnerLink { None, Parent, Reference };

template <class... Taken>
bool takes(const void *node)
{
    return ((nodeAs<Taken>(node) != nullptr) || ...);
}

// Appends the nodes of the classes taken to one list of the owner, writing the owner
// link into each appended node.
template <class... Taken>
HRESULT appendRelated(DatabaseResident *owner, NodeList *list, OwnerLink link, uint32_t n, VexoNode *const *nodes)
{
    if (nodes == nullptr)
        return E_POINTER;
    for (uint32_t i = 0; i < n; ++i) {
        void *node = nodes[i];
        if (!takes<Taken...>(node) || !sameDatabase(owner, node))
            continue;
        if (append(kSmallNodeLayout, owner->database->allocator, list, node) != S_OK)
            return E_OUTOFMEMORY;
        if (link == OwnerLink::Parent) {
            if (auto *child = nodeAs<ElementChild>(node))
                child->parent = owner;
        } else if (link == OwnerLink::Reference) {
            if (auto *referrer = nodeAs<ElementReference>(node))
                referrer->reference = owner;
        }
    }
    return S_OK;
}

// Orders dynamic parts by switch code: the difference read as a signed 32-bit number
// keeps codes less than 2^31 apart in ascending order.
int orderBySwitchCode(uint32_t key, const void *entry)
{
    const auto difference = static_cast<int32_t>(key - static_cast<const MultiplexedPart *>(entry)->switchCode);
    return difference < 0 ? -1 : difference > 0 ? 1 : 0;
}

}  // namespace

// ---- Single links ----------------------------------------------------------------

VEXO_API HRESULT Vexo_setParent(VexoNode *node, VexoNode *parent)
{
    auto *child = nodeAs<ElementChild>(node);
    ElementId *target = linkTarget(child, parent);
    if (child == nullptr || target == nullptr)
        return E_INVALIDARG;
    child->parent = target;
    noteChange(child);
    return S_OK;
}

VEXO_API HRESULT Vexo_setReference(VexoNode *node, VexoNode *reference)
{
    auto *referrer = nodeAs<ElementReference>(node);
    ElementId *target = linkTarget(referrer, reference);
    // A database's reference is its collections node; losing it would orphan every group.
    if (referrer == nullptr || target == nullptr || nodeExactly<Vexo>(referrer) != nullptr)
        return E_INVALIDARG;
    referrer->reference = target;
    noteChange(referrer);
    return S_OK;
}

VEXO_API HRESULT Vexo_setChannel(VexoNode *triggering, VexoNode *channel)
{
    return setTriggeringLink<Channel>(triggering, channel, &ElementChild::parent);
}

VEXO_API HRESULT Vexo_setFrame(VexoNode *triggering, VexoNode *frame)
{
    return setTriggeringLink<Frame>(triggering, frame, &ElementReference::reference);
}

VEXO_API HRESULT Vexo_setSourceECU(VexoNode *triggering, VexoNode *ecu)
{
    return setTriggeringLink<ElementGroup>(triggering, ecu, &FrameTriggering::sourceEcu);
}

VEXO_API HRESULT Vexo_setStaticPart(VexoNode *multiplexedPdu, VexoNode *part)
{
    return setPart(multiplexedPdu, part, &MultiplexedPDU::staticPart);
}

VEXO_API HRESULT Vexo_setElsePart(VexoNode *multiplexedPdu, VexoNode *part)
{
    return setPart(multiplexedPdu, part, &MultiplexedPDU::elsePart);
}

VEXO_API HRESULT Vexo_setSignal(VexoNode *instance, VexoNode *signal)
{
    auto *typed = nodeExactly<SignalInstance>(instance);
    ElementId *target = linkTarget(typed, signal);
    if (typed == nullptr || target == nullptr)
        return E_INVALIDARG;
    typed->reference = target;
    noteChange(typed);
    return Vexo_addSignalInstances(signal, 1, &instance);
}

// ---- Default groups --------------------------------------------------------------

VEXO_API HRESULT Vexo_addClusters(VexoNode *database, uint32_t n, VexoNode *const *nodes)
{
    return addToDefaultGroup(database, &DatabaseCollections::clusters, Cluster::kCode, n, nodes);
}

VEXO_API HRESULT Vexo_addECUs(VexoNode *database, uint32_t n, VexoNode *const *nodes)
{
    return addToDefaultGroup(database, &DatabaseCollections::ECUs, ElementGroup::kCode, n, nodes);
}

VEXO_API HRESULT Vexo_addFrames(VexoNode *database, uint32_t n, VexoNode *const *nodes)
{
    return addToDefaultGroup(database, &DatabaseCollections::frames, Frame::kCode, n, nodes);
}

VEXO_API HRESULT Vexo_addPDUs(VexoNode *database, uint32_t n, VexoNode *const *nodes)
{
    return addToDefaultGroup(database, &DatabaseCollections::PDUs, PDU::kCode, n, nodes);
}

VEXO_API HRESULT Vexo_addSignals(VexoNode *database, uint32_t n, VexoNode *const *nodes)
{
    return addToDefaultGroup(database, &DatabaseCollections::signals, Signal::kCode, n, nodes);
}

VEXO_API HRESULT Vexo_addCodings(VexoNode *database, uint32_t n, VexoNode *const *nodes)
{
    return addToDefaultGroup(database, &DatabaseCollections::codings, Coding::kCode, n, nodes);
}

VEXO_API HRESULT Vexo_addViews(VexoNode *database, uint32_t n, VexoNode *const *nodes)
{
    return addToDefaultGroup(database, &DatabaseCollections::views, ElementGroup::kCode, n, nodes);
}

// ---- Relation lists --------------------------------------------------------------

VEXO_API HRESULT Vexo_addFrameTriggerings(VexoNode *owner, uint32_t n, VexoNode *const *nodes)
{
    if (auto *channel = nodeExactly<Channel>(owner))
        return appendRelated<FrameTriggering>(channel, &channel->frameTriggerings, OwnerLink::Parent, n, nodes);
    if (auto *frame = nodeExactly<Frame>(owner))
        return appendRelated<FrameTriggering>(frame, &frame->frameTriggerings, OwnerLink::Reference, n, nodes);
    return E_INVALIDARG;
}

VEXO_API HRESULT Vexo_addPDUTriggerings(VexoNode *owner, uint32_t n, VexoNode *const *nodes)
{
    if (auto *channel = nodeExactly<Channel>(owner))
        return appendRelated<PDUTriggering>(channel, &channel->PDUTriggerings, OwnerLink::Parent, n, nodes);
    if (auto *pdu = nodeAs<PDU>(owner))
        return appendRelated<PDUTriggering>(pdu, &pdu->triggerings, OwnerLink::Reference, n, nodes);
    return E_INVALIDARG;
}

VEXO_API HRESULT Vexo_addPDUInstances(VexoNode *owner, uint32_t n, VexoNode *const *nodes)
{
    if (auto *frame = nodeExactly<Frame>(owner))
        return appendRelated<PDUInstance>(frame, &frame->PDUInstances, OwnerLink::Parent, n, nodes);
    if (auto *channel = nodeExactly<Channel>(owner))
        return appendRelated<PDUInstance>(channel, &channel->PDUInstances, OwnerLink::Parent, n, nodes);
    return E_INVALIDARG;
}

VEXO_API HRESULT Vexo_addSignalInstances(VexoNode *owner, uint32_t n, VexoNode *const *nodes)
{
    if (auto *pdu = nodeExactly<SignalPDU>(owner))
        return appendRelated<SignalInstance>(pdu, &pdu->signalInstances, OwnerLink::Parent, n, nodes);
    if (auto *signal = nodeExactly<Signal>(owner))
        return appendRelated<SignalInstance>(signal, &signal->signalInstances, OwnerLink::Reference, n, nodes);
    return E_INVALIDARG;
}

VEXO_API HRESULT Vexo_addInternalToPhysicalComputations(VexoNode *coding, uint32_t n, VexoNode *const *nodes)
{
    auto *owner = nodeExactly<Coding>(coding);
    if (owner == nullptr)
        return E_INVALIDARG;
    return appendRelated<Computation>(owner, &owner->internalToPhysicalCompus, OwnerLink::None, n, nodes);
}

VEXO_API HRESULT Vexo_addPhysicalToInternalComputations(VexoNode *coding, uint32_t n, VexoNode *const *nodes)
{
    auto *owner = nodeExactly<Coding>(coding);
    if (owner == nullptr)
        return E_INVALIDARG;
    return appendRelated<Computation>(owner, &owner->physicalToInternalCompus, OwnerLink::None, n, nodes);
}

VEXO_API HRESULT Vexo_addParents(VexoNode *pdu, uint32_t n, VexoNode *const *nodes)
{
    auto *owner = nodeAs<PDU>(pdu);
    if (owner == nullptr)
        return E_INVALIDARG;
    return appendRelated<PDUInstance, MultiplexedPart>(owner, &owner->parents, OwnerLink::None, n, nodes);
}

VEXO_API HRESULT Vexo_addDynamicParts(VexoNode *multiplexedPdu, uint32_t n, VexoNode *const *nodes)
{
    if (nodes == nullptr)
        return E_POINTER;
    auto *pdu = nodeExactly<MultiplexedPDU>(multiplexedPdu);
    if (pdu == nullptr)
        return E_INVALIDARG;
    for (uint32_t i = 0; i < n; ++i) {
        auto *part = nodeExactly<MultiplexedPart>(nodes[i]);
        if (part == nullptr || !sameDatabase(pdu, part))
            continue;
        const uint32_t key = part->switchCode;
        ListPosition position = {nullptr, 0};
        if (findOrdered(&pdu->dynamicParts, &position,
                        [key](const void *entry) { return orderBySwitchCode(key, entry); })
            == S_OK)
            continue;  // one part per switch code: the first stays
        if (insertOrdered(kSmallNodeLayout, pdu->database->allocator, &pdu->dynamicParts, position, part) != S_OK)
            return E_OUTOFMEMORY;
        part->parent = pdu;
    }
    return S_OK;
}

// ---- Records ---------------------------------------------------------------------

VEXO_API HRESULT Vexo_addSegment(VexoNode *part, uint32_t byteOrder, uint32_t bitPosition, uint32_t bitLength)
{
    auto *owner = nodeExactly<MultiplexedPart>(part);
    if (owner == nullptr)
        return E_INVALIDARG;
    Allocator *allocator = owner->database->allocator;
    if (reserveOwnerless(allocator) != S_OK)
        return E_OUTOFMEMORY;
    void *record = appendRecord(kSegmentLayout, allocator, &owner->segments);
    if (record == nullptr)
        return E_OUTOFMEMORY;
    noteOwnerless(allocator, record);
    auto *segment = new (record) Segment();
    segment->nodetype = Segment::kCode;
    segment->byteOrder = byteOrder;
    segment->bitpos = bitPosition;
    segment->bitlen = bitLength;
    return S_OK;
}

VEXO_API HRESULT Vexo_addRange(VexoNode *computation, double lowerLimit, double upperLimit, uint32_t flags)
{
    auto *owner = nodeAs<Computation>(computation);
    if (owner == nullptr)
        return E_INVALIDARG;
    Allocator *allocator = owner->database->allocator;
    if (reserveOwnerless(allocator) != S_OK)
        return E_OUTOFMEMORY;
    void *record = appendRecord(kRangeLayout, allocator, &owner->ranges);
    if (record == nullptr)
        return E_OUTOFMEMORY;
    noteOwnerless(allocator, record);
    auto *range = new (record) ValueRange();
    range->nodetype = ValueRange::kCode;
    range->lowerLimit = lowerLimit;
    range->upperLimit = upperLimit;
    range->flags = flags;
    return S_OK;
}
