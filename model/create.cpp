// Creation of every element kind. Each function allocates a zero-filled node, stores it
// in the caller's out pointer at once, writes its values, gives it its identifier and
// makes the links its arguments name through the exported link operations, in a fixed
// order; from allocation on the node exists whatever a later step returns.
#include "vexo/model.h"

#include <initializer_list>

#include "api_guard.h"
#include "database.h"
#include "links.h"

using namespace vexo::core;
using vexo::model::exactlyOwned;

namespace {

// A later step's failure that ends a creation at once: every failure of a checked step,
// and running out of memory in any step (a lost link is never reported as success).
bool endsChecked(HRESULT hr) { return hr < 0; }
bool endsUnchecked(HRESULT hr) { return hr == E_OUTOFMEMORY; }

// The common first steps: the out pointer, the database, and node arguments that
// belong to another database, before anything is allocated.
HRESULT checkCreation(VexoNode *handle, VexoNode **out, std::initializer_list<const void *> arguments = {})
{
    if (out == nullptr)
        return E_POINTER;
    const Vexo *database = databaseAs(handle);
    if (database == nullptr)
        return E_INVALIDARG;
    for (const void *argument : arguments) {
        if (foreignTo(argument, database))
            return E_INVALIDARG;
    }
    return S_OK;
}

template <class T>
T *createInto(VexoNode *handle, VexoNode **out)
{
    T *node = allocateNode<T>(databaseAs(handle));
    if (node != nullptr)
        *out = handleOf(node);
    return node;
}

// Frame triggerings: the sending ECU, the identifier, then the channel's and the
// frame's triggering lists. Arguments of other classes are ignored.
HRESULT finishTriggering(VexoNode *handle, FrameTriggering *triggering, const VexoChar *id, VexoNode *frame,
                         VexoNode *sourceEcu, VexoNode *channel)
{
    Vexo *database = databaseAs(handle);
    triggering->sourceEcu = exactlyOwned<ElementGroup>(sourceEcu, database);
    HRESULT hr = setElementId(database, triggering, id);
    if (endsUnchecked(hr))
        return hr;
    VexoNode *node = handleOf(triggering);
    if (exactlyOwned<Channel>(channel, database) != nullptr) {
        hr = Vexo_addFrameTriggerings(channel, 1, &node);
        if (endsUnchecked(hr))
            return hr;
    }
    if (exactlyOwned<Frame>(frame, database) != nullptr)
        hr = Vexo_addFrameTriggerings(frame, 1, &node);
    return hr;
}

// PDUs: the identifier, "@PDUs" (checked), then the referrer: it becomes one of the
// PDU's parents and references the PDU.
HRESULT finishPdu(VexoNode *handle, PDU *pdu, const VexoChar *id, VexoNode *referrer)
{
    HRESULT hr = setElementId(databaseAs(handle), pdu, id);
    if (endsUnchecked(hr))
        return hr;
    VexoNode *node = handleOf(pdu);
    hr = Vexo_addPDUs(handle, 1, &node);
    if (endsChecked(hr) || referrer == nullptr)
        return hr;
    hr = Vexo_addParents(node, 1, &referrer);
    if (endsUnchecked(hr))
        return hr;
    return Vexo_setReference(referrer, node);
}

// Timings carry no identifier; a parent group receives them as its last child.
HRESULT finishTiming(Timing *timing, VexoNode *parent)
{
    if (parent == nullptr)
        return S_OK;
    VexoNode *node = handleOf(timing);
    return Vexo_appendChildren(parent, 1, &node);
}

}  // namespace

VEXO_API HRESULT Vexo_createCluster(VexoNode *database, const VexoChar *id, uint32_t clusterType,
                                    VexoNode **cluster)
{
    HRESULT hr = checkCreation(database, cluster);
    if (hr != S_OK)
        return hr;
    auto *node = createInto<Cluster>(database, cluster);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->clusterType = clusterType;
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)))
        return hr;
    return Vexo_addClusters(database, 1, cluster);
}

VEXO_API HRESULT Vexo_createChannel(VexoNode *database, const VexoChar *id, VexoNode *cluster, VexoNode **channel)
{
    HRESULT hr = checkCreation(database, channel, {cluster});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<Channel>(database, channel);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)) || cluster == nullptr)
        return hr;
    // Membership only: the channel's group becomes the cluster, its parent stays null.
    return Vexo_appendChildren(cluster, 1, channel);
}

VEXO_API HRESULT Vexo_createFrame(VexoNode *database, const VexoChar *id, uint32_t length, VexoNode **frame)
{
    HRESULT hr = checkCreation(database, frame);
    if (hr != S_OK)
        return hr;
    auto *node = createInto<Frame>(database, frame);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->length = length;
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)))
        return hr;
    return Vexo_addFrames(database, 1, frame);
}

VEXO_API HRESULT Vexo_createAbsolutelyScheduledTriggering(VexoNode *database, const VexoChar *id, uint32_t slotId,
                                                          uint32_t baseCycle, uint32_t repetition, uint32_t flags,
                                                          VexoNode *frame, VexoNode *sourceEcu, VexoNode *channel,
                                                          VexoNode **triggering)
{
    const HRESULT hr = checkCreation(database, triggering, {frame, sourceEcu, channel});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<AbsolutelyScheduledTriggering>(database, triggering);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->slotId = slotId;
    node->baseCycle = baseCycle;
    node->repetition = repetition;
    node->flags = flags;
    return finishTriggering(database, node, id, frame, sourceEcu, channel);
}

VEXO_API HRESULT Vexo_createIdentifierBasedTriggering(VexoNode *database, const VexoChar *id, uint32_t identifier,
                                                      uint32_t flags, VexoNode *frame, VexoNode *sourceEcu,
                                                      VexoNode *channel, VexoNode **triggering)
{
    const HRESULT hr = checkCreation(database, triggering, {frame, sourceEcu, channel});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<IdentifierBasedTriggering>(database, triggering);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->identifier = identifier;
    node->flags = flags;
    return finishTriggering(database, node, id, frame, sourceEcu, channel);
}

VEXO_API HRESULT Vexo_createMaskedIdentifierTriggering(VexoNode *database, const VexoChar *id, uint32_t mask,
                                                       uint32_t code, uint32_t flags, VexoNode *frame,
                                                       VexoNode *sourceEcu, VexoNode *channel,
                                                       VexoNode **triggering)
{
    const HRESULT hr = checkCreation(database, triggering, {frame, sourceEcu, channel});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<MaskedIdentifierTriggering>(database, triggering);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->mask = mask;
    node->code = code;
    node->flags = flags;
    return finishTriggering(database, node, id, frame, sourceEcu, channel);
}

VEXO_API HRESULT Vexo_createPDUTriggering(VexoNode *database, const VexoChar *id, VexoNode *pdu, VexoNode *channel,
                                          VexoNode **triggering)
{
    HRESULT hr = checkCreation(database, triggering, {pdu, channel});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<PDUTriggering>(database, triggering);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)))
        return hr;
    if (pdu != nullptr) {
        Vexo_setReference(*triggering, pdu);
        if (endsChecked(hr = Vexo_addPDUTriggerings(pdu, 1, triggering)))
            return hr;
    }
    if (channel != nullptr) {
        Vexo_setParent(*triggering, channel);
        hr = Vexo_addPDUTriggerings(channel, 1, triggering);
    }
    return hr;
}

VEXO_API HRESULT Vexo_createSignalPDU(VexoNode *database, const VexoChar *id, uint32_t bitLength,
                                      VexoNode *referrer, VexoNode **pdu)
{
    const HRESULT hr = checkCreation(database, pdu, {referrer});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<SignalPDU>(database, pdu);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->bitlen = bitLength;
    return finishPdu(database, node, id, referrer);
}

VEXO_API HRESULT Vexo_createMultiplexedPDU(VexoNode *database, const VexoChar *id, uint32_t bitLength,
                                           uint32_t switchByteOrder, uint32_t switchPosition,
                                           uint32_t switchLength, uint32_t defaultSwitchCode,
                                           VexoNode *referrer, VexoNode **pdu)
{
    const HRESULT hr = checkCreation(database, pdu, {referrer});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<MultiplexedPDU>(database, pdu);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->bitlen = bitLength;
    node->switchByteOrder = switchByteOrder;
    node->switchPosition = switchPosition;
    node->switchLength = switchLength;
    node->defaultSwitchCode = defaultSwitchCode;
    return finishPdu(database, node, id, referrer);
}

VEXO_API HRESULT Vexo_createPDUInstance(VexoNode *database, const VexoChar *id, uint32_t byteOrder,
                                        uint32_t bitPosition, uint32_t updateBitPosition, VexoNode *pdu,
                                        VexoNode *frame, VexoNode **instance)
{
    HRESULT hr = checkCreation(database, instance, {pdu, frame});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<PDUInstance>(database, instance);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->byteOrder = byteOrder;
    node->bitpos = bitPosition;
    node->updateBitpos = updateBitPosition;
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)))
        return hr;
    if (frame != nullptr) {
        Vexo_setParent(*instance, frame);
        if (endsChecked(hr = Vexo_addPDUInstances(frame, 1, instance)))
            return hr;
    }
    if (pdu != nullptr) {
        if (endsUnchecked(hr = Vexo_addParents(pdu, 1, instance)))
            return hr;
        hr = Vexo_setReference(*instance, pdu);
    }
    return hr;
}

VEXO_API HRESULT Vexo_createMultiplexedPart(VexoNode *database, const VexoChar *id, uint32_t switchCode,
                                            VexoNode *multiplexedPdu, VexoNode **part)
{
    HRESULT hr = checkCreation(database, part, {multiplexedPdu});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<MultiplexedPart>(database, part);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->switchCode = switchCode;
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)) || multiplexedPdu == nullptr)
        return hr;
    return Vexo_setParent(*part, multiplexedPdu);
}

VEXO_API HRESULT Vexo_createSignal(VexoNode *database, const VexoChar *id, uint32_t flags, double defaultValue,
                                   double minValue, double maxValue, VexoNode *coding, VexoNode **signal)
{
    HRESULT hr = checkCreation(database, signal, {coding});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<Signal>(database, signal);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->flags = flags;
    node->defaultValue = defaultValue;
    node->minValue = minValue;
    node->maxValue = maxValue;
    node->reference = exactlyOwned<Coding>(coding, databaseAs(database));
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)))
        return hr;
    return Vexo_addSignals(database, 1, signal);
}

VEXO_API HRESULT Vexo_createSignalInstance(VexoNode *database, const VexoChar *id, uint32_t byteOrder,
                                           uint32_t bitPosition, uint32_t updateBitPosition, VexoNode *signal,
                                           VexoNode *pdu, VexoNode **instance)
{
    HRESULT hr = checkCreation(database, instance, {signal, pdu});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<SignalInstance>(database, instance);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->byteOrder = byteOrder;
    node->bitpos = bitPosition;
    node->updateBitpos = updateBitPosition;
    if (exactlyOwned<Signal>(signal, databaseAs(database)) != nullptr) {
        // Lists the instance in the signal's instances and sets the reference.
        if (endsUnchecked(hr = Vexo_addSignalInstances(signal, 1, instance)))
            return hr;
    }
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)) || pdu == nullptr)
        return hr;
    return Vexo_addSignalInstances(pdu, 1, instance);
}

VEXO_API HRESULT Vexo_createCoding(VexoNode *database, const VexoChar *id, uint32_t bitLength, uint32_t encoding,
                                   VexoNode *unit, VexoNode **coding)
{
    HRESULT hr = checkCreation(database, coding, {unit});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<Coding>(database, coding);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->bitlen = bitLength;
    node->encoding = encoding;
    node->reference = exactlyOwned<UnitSpec>(unit, databaseAs(database));
    if (endsChecked(hr = setElementId(databaseAs(database), node, id)))
        return hr;
    return Vexo_addCodings(database, 1, coding);
}

VEXO_API HRESULT Vexo_createUnitSpec(VexoNode *database, const VexoChar *id, uint32_t language,
                                     const VexoChar *displayName, VexoNode **unit)
{
    HRESULT hr = checkCreation(database, unit);
    if (hr != S_OK)
        return hr;
    auto *node = createInto<UnitSpec>(database, unit);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    Vexo *owner = databaseAs(database);
    if (endsUnchecked(hr = setSlotText(owner->strings, &node->displayName, language, displayName)))
        return hr;
    return setElementId(owner, node, id);
}

VEXO_API HRESULT Vexo_createIdentityComputation(VexoNode *database, const VexoChar *id, VexoNode **computation)
{
    const HRESULT hr = checkCreation(database, computation);
    if (hr != S_OK)
        return hr;
    auto *node = createInto<IdentityComputation>(database, computation);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    return setElementId(databaseAs(database), node, id);
}

VEXO_API HRESULT Vexo_createLinearComputation(VexoNode *database, const VexoChar *id, double scale, double offset,
                                              VexoNode **computation)
{
    const HRESULT hr = checkCreation(database, computation);
    if (hr != S_OK)
        return hr;
    auto *node = createInto<LinearComputation>(database, computation);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->scale = scale;
    node->offset = offset;
    return setElementId(databaseAs(database), node, id);
}

VEXO_API HRESULT Vexo_createMappedValueComputation(VexoNode *database, const VexoChar *id, double value,
                                                   VexoNode **computation)
{
    const HRESULT hr = checkCreation(database, computation);
    if (hr != S_OK)
        return hr;
    auto *node = createInto<MappedValueComputation>(database, computation);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->value = value;
    return setElementId(databaseAs(database), node, id);
}

VEXO_API HRESULT Vexo_createMappedTextComputation(VexoNode *database, const VexoChar *id, VexoStringSlot *text,
                                                  VexoNode **computation)
{
    const HRESULT hr = checkCreation(database, computation);
    if (hr != S_OK)
        return hr;
    // The text is read through this database's table for as long as the node exists: a
    // slot of another database (or anything that is no slot of this one) would dangle.
    if (text != nullptr && !ownedBy(text, databaseAs(database)))
        return E_INVALIDARG;
    auto *node = createInto<MappedTextComputation>(database, computation);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->textvalue = reinterpret_cast<StringSlot *>(text);
    return setElementId(databaseAs(database), node, id);
}

VEXO_API HRESULT Vexo_createElementReference(VexoNode *database, const VexoChar *id, VexoNode *reference,
                                             VexoNode **element)
{
    const HRESULT hr = checkCreation(database, element, {reference});
    if (hr != S_OK)
        return hr;
    if (reference != nullptr && nodeAs<ElementId>(reference) == nullptr)
        return E_INVALIDARG;
    auto *node = createInto<ElementReference>(database, element);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->reference = nodeAs<ElementId>(reference);
    return setElementId(databaseAs(database), node, id);
}

VEXO_API HRESULT Vexo_createECU(VexoNode *database, const VexoChar *id, VexoNode **ecu)
{
    // The collections node is looked up before the out pointer is tested, so a null
    // database is E_POINTER and a collections node passes here but not below.
    DatabaseCollections *collections = nullptr;
    HRESULT hr = collectionsOf(database, &collections);
    if (hr < 0)
        return hr;
    if (ecu == nullptr)
        return E_POINTER;
    Vexo *owner = databaseAs(database);
    if (owner == nullptr)
        return E_INVALIDARG;
    auto *node = createInto<ElementGroup>(database, ecu);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    if (endsChecked(hr = setElementId(owner, node, id)))
        return hr;
    ElementGroup *ecus = collections != nullptr ? nodeAs<ElementGroup>(collections->ECUs) : nullptr;
    if (ecus == nullptr)
        return E_INVALIDARG;
    return insertIntoGroup(ecu, 1, kSmallNodeLayout, owner, ObjectBase::kCode, ecus, &ecus->children);
}

VEXO_API HRESULT Vexo_createEventControlledTiming(VexoNode *database, uint32_t debounceTime, VexoNode *parent,
                                                  VexoNode **timing)
{
    const HRESULT hr = checkCreation(database, timing, {parent});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<EventControlledTiming>(database, timing);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->debounceTime = debounceTime;
    return finishTiming(node, parent);
}

VEXO_API HRESULT Vexo_createCyclicTiming(VexoNode *database, uint64_t cycleTime, VexoNode *parent,
                                         VexoNode **timing)
{
    const HRESULT hr = checkCreation(database, timing, {parent});
    if (hr != S_OK)
        return hr;
    auto *node = createInto<CyclicTiming>(database, timing);
    if (node == nullptr)
        return E_OUTOFMEMORY;
    node->cycleTime = cycleTime;
    return finishTiming(node, parent);
}
