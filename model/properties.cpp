// Element properties: the getters and the few setters of node fields, the name and text
// accessors over interned strings and string slots, and the derived unit getter. Each
// accessor names the classes it accepts; a field is read only through that class test.
#include "vexo/model.h"

#include <initializer_list>
#include <type_traits>

#include "api_guard.h"
#include "database.h"
#include "links.h"

using namespace vexo::core;

namespace {

// The field of a node that is a kind of T, or null for any other node. The member may
// be declared by a base class of T; the class test is still T's.
template <class T, class Base, class Value>
const Value *fieldOf(const void *node, Value Base::*member)
{
    static_assert(std::is_base_of_v<Base, T>, "a field of the class tested");
    const T *typed = nodeAs<T>(node);
    return typed != nullptr ? &(typed->*member) : nullptr;
}

// The first field found, for accessors that read one field name of several classes.
template <class Value>
const Value *firstOf(std::initializer_list<const Value *> fields)
{
    for (const Value *field : fields) {
        if (field != nullptr)
            return field;
    }
    return nullptr;
}

template <class Value>
HRESULT copyValue(const Value *field, Value *out)
{
    if (field == nullptr || out == nullptr)
        return E_INVALIDARG;
    *out = *field;
    return S_OK;
}

template <class Target>
HRESULT copyLink(Target *const *field, VexoNode **out)
{
    if (field == nullptr || out == nullptr)
        return E_INVALIDARG;
    *out = handleOf(*field);
    return S_OK;
}

// Name and text accessors: the database, and one of its own nodes of class T.
template <class T>
T *ownNode(VexoNode *database, const VexoNode *node)
{
    T *typed = nodeAs<T>(node);
    return typed != nullptr && ownedBy(typed, databaseAs(database)) ? typed : nullptr;
}

StringTable *tableOf(VexoNode *database) { return databaseAs(database)->strings; }

template <class T>
HRESULT setText(VexoNode *database, VexoNode *node, StringSlot *T::*slot, uint32_t language,
                const VexoChar *text)
{
    T *typed = ownNode<T>(database, node);
    if (typed == nullptr || text == nullptr)
        return E_INVALIDARG;
    return setSlotText(tableOf(database), &(typed->*slot), language, text);
}

template <class T>
HRESULT getText(VexoNode *database, const VexoNode *node, StringSlot *T::*slot, uint32_t language,
                uint32_t fallback, const VexoChar **text)
{
    const T *typed = ownNode<T>(database, node);
    if (typed == nullptr || text == nullptr)
        return E_INVALIDARG;
    return lookupSlot(tableOf(database), typed->*slot, language, fallback, text);
}

}  // namespace

// ---- Identity and membership -----------------------------------------------------

VEXO_API HRESULT Vexo_getElementId(const VexoNode *node, const VexoChar **id)
{
    return copyValue(fieldOf<ElementId>(node, &ElementId::eid), id);
}

VEXO_API HRESULT Vexo_getGroup(const VexoNode *node, VexoNode **group)
{
    return copyLink(fieldOf<ElementId>(node, &ElementId::group), group);
}

VEXO_API HRESULT Vexo_getParam(const VexoNode *node, uint32_t *param)
{
    return copyValue(fieldOf<ElementId>(node, &ElementId::param), param);
}

VEXO_API HRESULT Vexo_setParam(VexoNode *node, uint32_t param)
{
    auto *element = nodeAs<ElementId>(node);
    if (element == nullptr)
        return E_INVALIDARG;
    element->param = param;
    noteChange(element);
    return S_OK;
}

VEXO_API HRESULT Vexo_getParent(const VexoNode *node, VexoNode **parent)
{
    return copyLink(fieldOf<ElementChild>(node, &ElementChild::parent), parent);
}

VEXO_API HRESULT Vexo_getReference(const VexoNode *node, VexoNode **reference)
{
    return copyLink(fieldOf<ElementReference>(node, &ElementReference::reference), reference);
}

VEXO_API HRESULT Vexo_getUnit(const VexoNode *node, VexoNode **unit)
{
    if (node == nullptr || unit == nullptr)
        return E_INVALIDARG;
    if (const auto *coding = nodeAs<Coding>(node)) {
        *unit = handleOf(coding->reference);
        return S_OK;
    }
    if (nodeAs<UnitSpec>(node) != nullptr) {
        *unit = const_cast<VexoNode *>(node);
        return S_OK;
    }
    const auto *referrer = nodeAs<ElementReference>(node);
    if (referrer == nullptr)
        return E_INVALIDARG;
    // Two steps: a signal's coding, then the coding's unit. A first reference to an
    // element without a reference field ends the walk with no unit.
    const auto *referred = nodeAs<ElementReference>(referrer->reference);
    *unit = handleOf(referred != nullptr ? referred->reference : nullptr);
    return S_OK;
}

// ---- Clusters and frame triggerings ----------------------------------------------

VEXO_API HRESULT Vexo_getClusterType(const VexoNode *node, uint32_t *clusterType)
{
    return copyValue(fieldOf<Cluster>(node, &Cluster::clusterType), clusterType);
}

VEXO_API HRESULT Vexo_setClusterType(VexoNode *node, uint32_t clusterType)
{
    auto *cluster = nodeAs<Cluster>(node);
    if (cluster == nullptr)
        return E_INVALIDARG;
    cluster->clusterType = clusterType;
    noteChange(cluster);
    return S_OK;
}

VEXO_API HRESULT Vexo_getChannel(const VexoNode *node, VexoNode **channel)
{
    return copyLink(fieldOf<FrameTriggering>(node, &ElementChild::parent), channel);
}

VEXO_API HRESULT Vexo_getFrame(const VexoNode *node, VexoNode **frame)
{
    return copyLink(fieldOf<FrameTriggering>(node, &ElementReference::reference), frame);
}

VEXO_API HRESULT Vexo_getSourceECU(const VexoNode *node, VexoNode **ecu)
{
    return copyLink(fieldOf<FrameTriggering>(node, &FrameTriggering::sourceEcu), ecu);
}

VEXO_API HRESULT Vexo_getSlotId(const VexoNode *node, uint32_t *slotId)
{
    return copyValue(fieldOf<AbsolutelyScheduledTriggering>(node, &AbsolutelyScheduledTriggering::slotId), slotId);
}

VEXO_API HRESULT Vexo_getCycleOffset(const VexoNode *node, uint32_t *baseCycle)
{
    return copyValue(fieldOf<AbsolutelyScheduledTriggering>(node, &AbsolutelyScheduledTriggering::baseCycle),
                     baseCycle);
}

VEXO_API HRESULT Vexo_getRepetition(const VexoNode *node, uint32_t *repetition)
{
    return copyValue(fieldOf<AbsolutelyScheduledTriggering>(node, &AbsolutelyScheduledTriggering::repetition),
                     repetition);
}

VEXO_API HRESULT Vexo_getIdentifier(const VexoNode *node, uint32_t *identifier)
{
    return copyValue(fieldOf<IdentifierBasedTriggering>(node, &IdentifierBasedTriggering::identifier), identifier);
}

VEXO_API HRESULT Vexo_getIdentifierCode(const VexoNode *node, uint32_t *code)
{
    return copyValue(fieldOf<MaskedIdentifierTriggering>(node, &MaskedIdentifierTriggering::code), code);
}

VEXO_API HRESULT Vexo_getIdentifierMask(const VexoNode *node, uint32_t *mask)
{
    return copyValue(fieldOf<MaskedIdentifierTriggering>(node, &MaskedIdentifierTriggering::mask), mask);
}

VEXO_API HRESULT Vexo_getFlags(const VexoNode *node, uint32_t *flags)
{
    return copyValue(firstOf({fieldOf<FrameTriggering>(node, &FrameTriggering::flags),
                              fieldOf<Signal>(node, &Signal::flags), fieldOf<ValueRange>(node, &ValueRange::flags)}),
                     flags);
}

VEXO_API HRESULT Vexo_getLength(const VexoNode *node, uint32_t *length)
{
    return copyValue(fieldOf<Frame>(node, &Frame::length), length);
}

// ---- Lengths, positions and byte orders ------------------------------------------

VEXO_API HRESULT Vexo_getBitLength(const VexoNode *node, uint32_t *bitLength)
{
    return copyValue(firstOf({fieldOf<PDU>(node, &PDU::bitlen), fieldOf<Coding>(node, &Coding::bitlen),
                              fieldOf<Segment>(node, &Segment::bitlen)}),
                     bitLength);
}

VEXO_API HRESULT Vexo_getUnusedBytePattern(const VexoNode *node, uint32_t *pattern)
{
    return copyValue(fieldOf<PDU>(node, &PDU::unusedBytePattern), pattern);
}

VEXO_API HRESULT Vexo_getBitPosition(const VexoNode *node, uint32_t *bitPosition)
{
    return copyValue(firstOf({fieldOf<PDUInstance>(node, &PDUInstance::bitpos),
                              fieldOf<SignalInstance>(node, &SignalInstance::bitpos),
                              fieldOf<Segment>(node, &Segment::bitpos)}),
                     bitPosition);
}

VEXO_API HRESULT Vexo_getUpdateBitPosition(const VexoNode *node, uint32_t *bitPosition)
{
    return copyValue(firstOf({fieldOf<PDUInstance>(node, &PDUInstance::updateBitpos),
                              fieldOf<SignalInstance>(node, &SignalInstance::updateBitpos)}),
                     bitPosition);
}

VEXO_API HRESULT Vexo_getByteOrder(const VexoNode *node, uint32_t *byteOrder)
{
    return copyValue(firstOf({fieldOf<SignalInstance>(node, &SignalInstance::byteOrder),
                              fieldOf<PDUInstance>(node, &PDUInstance::byteOrder),
                              fieldOf<Segment>(node, &Segment::byteOrder)}),
                     byteOrder);
}

// ---- Multiplexing ----------------------------------------------------------------

VEXO_API HRESULT Vexo_getSwitchCode(const VexoNode *node, uint32_t *switchCode)
{
    return copyValue(fieldOf<MultiplexedPart>(node, &MultiplexedPart::switchCode), switchCode);
}

VEXO_API HRESULT Vexo_getSwitchByteOrder(const VexoNode *node, uint32_t *byteOrder)
{
    return copyValue(fieldOf<MultiplexedPDU>(node, &MultiplexedPDU::switchByteOrder), byteOrder);
}

VEXO_API HRESULT Vexo_getSwitchPosition(const VexoNode *node, uint32_t *position)
{
    return copyValue(fieldOf<MultiplexedPDU>(node, &MultiplexedPDU::switchPosition), position);
}

VEXO_API HRESULT Vexo_getSwitchLength(const VexoNode *node, uint32_t *length)
{
    return copyValue(fieldOf<MultiplexedPDU>(node, &MultiplexedPDU::switchLength), length);
}

VEXO_API HRESULT Vexo_getDefaultSwitchCode(const VexoNode *node, uint32_t *switchCode)
{
    return copyValue(fieldOf<MultiplexedPDU>(node, &MultiplexedPDU::defaultSwitchCode), switchCode);
}

VEXO_API HRESULT Vexo_getStaticPart(const VexoNode *node, VexoNode **part)
{
    return copyLink(fieldOf<MultiplexedPDU>(node, &MultiplexedPDU::staticPart), part);
}

VEXO_API HRESULT Vexo_getElsePart(const VexoNode *node, VexoNode **part)
{
    return copyLink(fieldOf<MultiplexedPDU>(node, &MultiplexedPDU::elsePart), part);
}

// ---- Signals, codings and computations -------------------------------------------

VEXO_API HRESULT Vexo_getDefaultValue(const VexoNode *node, double *value)
{
    return copyValue(fieldOf<Signal>(node, &Signal::defaultValue), value);
}

VEXO_API HRESULT Vexo_getMinValue(const VexoNode *node, double *value)
{
    return copyValue(fieldOf<Signal>(node, &Signal::minValue), value);
}

VEXO_API HRESULT Vexo_getMaxValue(const VexoNode *node, double *value)
{
    return copyValue(fieldOf<Signal>(node, &Signal::maxValue), value);
}

VEXO_API HRESULT Vexo_getEncoding(const VexoNode *node, uint32_t *encoding)
{
    return copyValue(fieldOf<Coding>(node, &Coding::encoding), encoding);
}

VEXO_API HRESULT Vexo_getScale(const VexoNode *node, double *scale)
{
    return copyValue(fieldOf<LinearComputation>(node, &LinearComputation::scale), scale);
}

VEXO_API HRESULT Vexo_getOffset(const VexoNode *node, double *offset)
{
    return copyValue(fieldOf<LinearComputation>(node, &LinearComputation::offset), offset);
}

VEXO_API HRESULT Vexo_getValue(const VexoNode *node, double *value)
{
    return copyValue(fieldOf<MappedValueComputation>(node, &MappedValueComputation::value), value);
}

VEXO_API HRESULT Vexo_getLowerLimit(const VexoNode *node, double *limit)
{
    return copyValue(fieldOf<ValueRange>(node, &ValueRange::lowerLimit), limit);
}

VEXO_API HRESULT Vexo_getUpperLimit(const VexoNode *node, double *limit)
{
    return copyValue(fieldOf<ValueRange>(node, &ValueRange::upperLimit), limit);
}

// ---- Timings ---------------------------------------------------------------------

VEXO_API HRESULT Vexo_getDebounceTime(const VexoNode *node, uint32_t *debounceTime)
{
    return copyValue(fieldOf<EventControlledTiming>(node, &EventControlledTiming::debounceTime), debounceTime);
}

VEXO_API HRESULT Vexo_getCycletime(const VexoNode *node, uint64_t *cycleTime)
{
    return copyValue(fieldOf<CyclicTiming>(node, &CyclicTiming::cycleTime), cycleTime);
}

// ---- Names and texts -------------------------------------------------------------

VEXO_API HRESULT Vexo_setShortName(VexoNode *database, VexoNode *node, const VexoChar *text)
{
    auto *element = ownNode<ElementDetail>(database, node);
    if (element == nullptr || text == nullptr)
        return E_INVALIDARG;
    const VexoChar *interned = intern(tableOf(database), text);
    if (interned == nullptr)
        return E_OUTOFMEMORY;
    element->shortname = interned;
    noteChange(element);
    return S_OK;
}

VEXO_API HRESULT Vexo_getShortName(VexoNode *database, const VexoNode *node, const VexoChar **text)
{
    const auto *element = ownNode<ElementDetail>(database, node);
    if (element == nullptr || text == nullptr)
        return E_INVALIDARG;
    *text = element->shortname != nullptr ? element->shortname : element->eid;
    return *text != nullptr ? S_OK : S_FALSE;
}

VEXO_API HRESULT Vexo_setLongName(VexoNode *database, VexoNode *node, uint32_t language, const VexoChar *text)
{
    return setText<ElementDetail>(database, node, &ElementDetail::longname, language, text);
}

VEXO_API HRESULT Vexo_getLongName(VexoNode *database, const VexoNode *node, uint32_t language,
                                  uint32_t fallbackLanguage, const VexoChar **text)
{
    return getText<ElementDetail>(database, node, &ElementDetail::longname, language, fallbackLanguage, text);
}

VEXO_API HRESULT Vexo_setDescription(VexoNode *database, VexoNode *node, uint32_t language, const VexoChar *text)
{
    return setText<ElementDetail>(database, node, &ElementDetail::description, language, text);
}

VEXO_API HRESULT Vexo_getDescription(VexoNode *database, const VexoNode *node, uint32_t language,
                                     uint32_t fallbackLanguage, const VexoChar **text)
{
    return getText<ElementDetail>(database, node, &ElementDetail::description, language, fallbackLanguage, text);
}

VEXO_API HRESULT Vexo_setElementDetail(VexoNode *database, VexoNode *node, uint32_t language,
                                       const VexoChar *longName, const VexoChar *description)
{
    auto *element = ownNode<ElementDetail>(database, node);
    if (element == nullptr)
        return E_INVALIDARG;
    StringTable *table = tableOf(database);
    // Set slot text leaves a slot alone for a null or empty text.
    HRESULT hr = setSlotText(table, &element->longname, language, longName);
    if (hr == S_OK)
        hr = setSlotText(table, &element->description, language, description);
    return hr;
}

VEXO_API HRESULT Vexo_getElementDetail(VexoNode *database, const VexoNode *node, uint32_t language,
                                       uint32_t fallbackLanguage, const VexoChar **longName,
                                       const VexoChar **description)
{
    const auto *element = ownNode<ElementDetail>(database, node);
    if (element == nullptr || (longName == nullptr && description == nullptr))
        return E_INVALIDARG;
    StringTable *table = tableOf(database);
    HRESULT hr = S_OK;
    if (longName != nullptr)
        hr = lookupSlot(table, element->longname, language, fallbackLanguage, longName);
    if (description != nullptr)
        hr = lookupSlot(table, element->description, language, fallbackLanguage, description);
    return hr;
}

VEXO_API HRESULT Vexo_setDisplayName(VexoNode *database, VexoNode *unit, uint32_t language, const VexoChar *text)
{
    return setText<UnitSpec>(database, unit, &UnitSpec::displayName, language, text);
}

VEXO_API HRESULT Vexo_getDisplayName(VexoNode *database, const VexoNode *unit, uint32_t language,
                                     uint32_t fallbackLanguage, const VexoChar **text)
{
    return getText<UnitSpec>(database, unit, &UnitSpec::displayName, language, fallbackLanguage, text);
}

VEXO_API HRESULT Vexo_getTextValue(VexoNode *database, const VexoNode *computation, uint32_t language,
                                   uint32_t fallbackLanguage, const VexoChar **text)
{
    return getText<MappedTextComputation>(database, computation, &MappedTextComputation::textvalue, language,
                                          fallbackLanguage, text);
}
