// Methods of node values (registered for database values too): element properties,
// names and texts, links, relation lists and their iterators. Name and text methods take
// the database first, as their exported operations do.
#include "binding.h"
#include "iterators.h"
#include "methods.h"
#include "node_classes.h"
#include "vexo/enumerate.h"
#include "vexo/model.h"

namespace vexo::lua {

using namespace core;

namespace {

int node_getNodeType(lua_State *L)
{
    VexoNode *node = checkNode(L, 1, ObjectBase::kCode);
    lua_pushinteger(L, Vexo_getNodeType(node));
    return 1;
}

int node_findChildByElementId(lua_State *L)
{
    VexoNode *group = checkNode(L, 1, ElementGroup::kCode);
    const VexoChar *id = toWideArgument(L, 2);
    VexoNode *found = nullptr;
    const HRESULT result = Vexo_findChildByElementId(group, id, &found);
    return pushLookup(L, result, found);
}

int node_getElementId(lua_State *L)
{
    VexoNode *node = checkNode(L, 1, ElementId::kCode);
    const VexoChar *id = nullptr;
    const HRESULT result = Vexo_getElementId(node, &id);
    return pushText(L, result, id);
}

using LinkGetter = HRESULT (*)(const VexoNode *node, VexoNode **target);

int lookupLink(lua_State *L, uint32_t klass, LinkGetter get)
{
    VexoNode *node = checkNode(L, 1, klass);
    VexoNode *target = nullptr;
    const HRESULT result = get(node, &target);
    return pushLookup(L, result, target);
}

using LinkSetter = HRESULT (*)(VexoNode *node, VexoNode *target);

int setLink(lua_State *L, uint32_t klass, uint32_t targetClass, LinkSetter set)
{
    VexoNode *node = checkNode(L, 1, klass);
    VexoNode *target = checkNode(L, 2, targetClass);
    return pushResult(L, set(node, target));
}

int node_getGroup(lua_State *L) { return lookupLink(L, ElementId::kCode, Vexo_getGroup); }

int node_getParam(lua_State *L)
{
    VexoNode *node = checkNode(L, 1, ElementId::kCode);
    uint32_t param = 0;
    const HRESULT result = Vexo_getParam(node, &param);
    if (result != S_OK)
        return pushFailure(L, result);
    lua_pushinteger(L, static_cast<int32_t>(param));
    return 1;
}

int node_setParam(lua_State *L)
{
    VexoNode *node = checkNode(L, 1, ElementId::kCode);
    const uint32_t param = toInteger32(L, 2);
    const HRESULT result = Vexo_setParam(node, param);
    if (result != S_OK)
        return pushFailure(L, result);
    lua_pushboolean(L, 1);
    return 1;
}

int node_setShortName(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoNode *node = checkNode(L, 2, ElementDetail::kCode);
    const VexoChar *text = toWideArgument(L, 3);
    return pushEcho(L, Vexo_setShortName(database, node, text), text);
}

int node_getShortName(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoNode *node = checkNode(L, 2, ElementDetail::kCode);
    const VexoChar *text = nullptr;
    const HRESULT result = Vexo_getShortName(database, node, &text);
    return pushText(L, result, text);
}

using TextSetter = HRESULT (*)(VexoNode *database, VexoNode *node, uint32_t language, const VexoChar *text);
using TextGetter = HRESULT (*)(VexoNode *database, const VexoNode *node, uint32_t language,
                               uint32_t fallbackLanguage, const VexoChar **text);

int setText(lua_State *L, uint32_t klass, TextSetter set)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoNode *node = checkNode(L, 2, klass);
    const uint32_t language = toLanguage(L, 3);
    const VexoChar *text = toWideArgument(L, 4);
    return pushEcho(L, set(database, node, language, text), text);
}

int getText(lua_State *L, uint32_t klass, TextGetter get)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoNode *node = checkNode(L, 2, klass);
    const uint32_t language = toLanguage(L, 3);
    const uint32_t fallbackLanguage = toLanguage(L, 4);
    const VexoChar *text = nullptr;
    const HRESULT result = get(database, node, language, fallbackLanguage, &text);
    return pushText(L, result, text);
}

int node_setLongName(lua_State *L) { return setText(L, ElementDetail::kCode, Vexo_setLongName); }
int node_getLongName(lua_State *L) { return getText(L, ElementDetail::kCode, Vexo_getLongName); }
int node_setDescription(lua_State *L) { return setText(L, ElementDetail::kCode, Vexo_setDescription); }
int node_getDescription(lua_State *L) { return getText(L, ElementDetail::kCode, Vexo_getDescription); }
int node_setDisplayName(lua_State *L) { return setText(L, UnitSpec::kCode, Vexo_setDisplayName); }
int node_getDisplayName(lua_State *L) { return getText(L, UnitSpec::kCode, Vexo_getDisplayName); }

int node_setElementDetail(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoNode *node = checkNode(L, 2, ElementDetail::kCode);
    const uint32_t language = toLanguage(L, 3);
    const VexoChar *longName = toWideArgument(L, 4);
    const VexoChar *description = toWideArgument(L, 5);
    return pushResult(L, Vexo_setElementDetail(database, node, language, longName, description));
}

int node_getElementDetail(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoNode *node = checkNode(L, 2, ElementDetail::kCode);
    const uint32_t language = toLanguage(L, 3);
    const uint32_t fallbackLanguage = toLanguage(L, 4);
    const VexoChar *longName = nullptr;
    const VexoChar *description = nullptr;
    const HRESULT result = Vexo_getElementDetail(database, node, language, fallbackLanguage, &longName, &description);
    if (result != S_OK)
        return 0;
    pushText(L, S_OK, longName);
    pushText(L, S_OK, description);
    return 2;
}

int node_setParent(lua_State *L) { return setLink(L, ElementChild::kCode, ElementId::kCode, Vexo_setParent); }
int node_getParent(lua_State *L) { return lookupLink(L, ElementChild::kCode, Vexo_getParent); }
int node_setReference(lua_State *L)
{
    return setLink(L, ElementReference::kCode, ElementId::kCode, Vexo_setReference);
}
int node_getReference(lua_State *L) { return lookupLink(L, ElementReference::kCode, Vexo_getReference); }

int addTo(lua_State *L, uint32_t ownerClass, uint32_t memberClass, AddFunction add, bool continuing = false)
{
    VexoNode *owner = checkNode(L, 1, ownerClass);
    return addLoop(L, owner, 2, memberClass, add, continuing);
}

int enumerate(lua_State *L, uint32_t klass, EnumerateFunction enumerateList)
{
    VexoNode *owner = checkNode(L, 1, klass);
    pushEnumeration(L, enumerateList, owner);
    return 1;
}

int node_insertChildren(lua_State *L)
{
    return addTo(L, ElementGroup::kCode, ObjectBase::kCode, Vexo_insertChildren);
}
int node_appendChildren(lua_State *L)
{
    return addTo(L, ElementGroup::kCode, ObjectBase::kCode, Vexo_appendChildren);
}

int node_enumChildren(lua_State *L)
{
    VexoNode *group = checkNode(L, 1, ElementGroup::kCode);
    const HRESULT result = pushEnumeration(L, Vexo_enumChildren, group);
    if (result != S_OK) {
        lua_pop(L, 1);
        return pushFailure(L, result);
    }
    return 1;
}

int node_addSegment(lua_State *L)
{
    VexoNode *part = checkNode(L, 1, MultiplexedPart::kCode);
    const uint32_t byteOrder = toInteger32(L, 2);
    const uint32_t bitPosition = toInteger32(L, 3);
    const uint32_t bitLength = toInteger32(L, 4);
    return pushResult(L, Vexo_addSegment(part, byteOrder, bitPosition, bitLength));
}

int node_enumSegments(lua_State *L) { return enumerate(L, MultiplexedPart::kCode, Vexo_enumSegments); }

int node_addParents(lua_State *L) { return addTo(L, PDU::kCode, ElementReference::kCode, Vexo_addParents); }
int node_enumParents(lua_State *L) { return enumerate(L, PDU::kCode, Vexo_enumParents); }

int node_addSignalInstances(lua_State *L)
{
    return addTo(L, SignalPDU::kCode, SignalInstance::kCode, Vexo_addSignalInstances, true);
}
int node_enumSignalInstances(lua_State *L) { return enumerate(L, SignalPDU::kCode, Vexo_enumSignalInstances); }

int node_setStaticPart(lua_State *L)
{
    return setLink(L, MultiplexedPDU::kCode, MultiplexedPart::kCode, Vexo_setStaticPart);
}
int node_setElsePart(lua_State *L)
{
    return setLink(L, MultiplexedPDU::kCode, MultiplexedPart::kCode, Vexo_setElsePart);
}
int node_addDynamicParts(lua_State *L)
{
    return addTo(L, MultiplexedPDU::kCode, MultiplexedPart::kCode, Vexo_addDynamicParts);
}
int node_getStaticPart(lua_State *L) { return lookupLink(L, MultiplexedPDU::kCode, Vexo_getStaticPart); }
int node_getElsePart(lua_State *L) { return lookupLink(L, MultiplexedPDU::kCode, Vexo_getElsePart); }
int node_enumDynamicParts(lua_State *L) { return enumerate(L, MultiplexedPDU::kCode, Vexo_enumDynamicParts); }

int node_addFrameTriggerings(lua_State *L)
{
    return addTo(L, Channel::kCode, FrameTriggering::kCode, Vexo_addFrameTriggerings);
}
int node_enumFrameTriggerings(lua_State *L) { return enumerate(L, Channel::kCode, Vexo_enumFrameTriggerings); }
int node_addPDUTriggerings(lua_State *L)
{
    return addTo(L, Channel::kCode, PDUTriggering::kCode, Vexo_addPDUTriggerings);
}
int node_enumPDUTriggerings(lua_State *L) { return enumerate(L, Channel::kCode, Vexo_enumPDUTriggerings); }
int node_addPDUInstances(lua_State *L)
{
    return addTo(L, Frame::kCode, PDUInstance::kCode, Vexo_addPDUInstances);
}
int node_enumPDUInstances(lua_State *L) { return enumerate(L, Frame::kCode, Vexo_enumPDUInstances); }

int node_addInternalToPhysicalComputations(lua_State *L)
{
    return addTo(L, Coding::kCode, Computation::kCode, Vexo_addInternalToPhysicalComputations);
}
int node_addPhysicalToInternalComputations(lua_State *L)
{
    return addTo(L, Coding::kCode, Computation::kCode, Vexo_addPhysicalToInternalComputations);
}
int node_getUnit(lua_State *L) { return lookupLink(L, ElementId::kCode, Vexo_getUnit); }
int node_enumInternalToPhysicalComputations(lua_State *L)
{
    return enumerate(L, Coding::kCode, Vexo_enumInternalToPhysicalComputations);
}
int node_enumPhysicalToInternalComputations(lua_State *L)
{
    return enumerate(L, Coding::kCode, Vexo_enumPhysicalToInternalComputations);
}

int node_addRange(lua_State *L)
{
    VexoNode *computation = checkNode(L, 1, Computation::kCode);
    const double lowerLimit = lua_tonumber(L, 2);
    const double upperLimit = lua_tonumber(L, 3);
    const uint32_t flags = toInteger32(L, 4);
    return pushResult(L, Vexo_addRange(computation, lowerLimit, upperLimit, flags));
}
int node_enumRanges(lua_State *L) { return enumerate(L, Computation::kCode, Vexo_enumRanges); }

int node_setFrame(lua_State *L) { return setLink(L, FrameTriggering::kCode, Frame::kCode, Vexo_setFrame); }
int node_getFrame(lua_State *L) { return lookupLink(L, FrameTriggering::kCode, Vexo_getFrame); }
int node_setSourceECU(lua_State *L)
{
    return setLink(L, FrameTriggering::kCode, ElementGroup::kCode, Vexo_setSourceECU);
}
int node_getSourceECU(lua_State *L) { return lookupLink(L, FrameTriggering::kCode, Vexo_getSourceECU); }
int node_setChannel(lua_State *L) { return setLink(L, FrameTriggering::kCode, Channel::kCode, Vexo_setChannel); }
int node_getChannel(lua_State *L) { return lookupLink(L, FrameTriggering::kCode, Vexo_getChannel); }
int node_setSignal(lua_State *L) { return setLink(L, SignalInstance::kCode, Signal::kCode, Vexo_setSignal); }

}  // namespace

const luaL_Reg kNodeMethods[] = {
    {"getNodeType", node_getNodeType},
    {"findChildByElementId", node_findChildByElementId},
    {"getElementId", node_getElementId},
    {"getGroup", node_getGroup},
    {"getParam", node_getParam},
    {"setParam", node_setParam},
    {"setShortName", node_setShortName},
    {"getShortName", node_getShortName},
    {"setLongName", node_setLongName},
    {"getLongName", node_getLongName},
    {"setDescription", node_setDescription},
    {"getDescription", node_getDescription},
    {"setElementDetail", node_setElementDetail},
    {"getElementDetail", node_getElementDetail},
    {"setParent", node_setParent},
    {"getParent", node_getParent},
    {"setReference", node_setReference},
    {"getReference", node_getReference},
    {"insertChildren", node_insertChildren},
    {"appendChildren", node_appendChildren},
    {"enumChildren", node_enumChildren},
    {"getCollections", db_getCollections},
    {"addSegment", node_addSegment},
    {"enumSegments", node_enumSegments},
    {"addParents", node_addParents},
    {"enumParents", node_enumParents},
    {"addSignalInstances", node_addSignalInstances},
    {"enumSignalInstances", node_enumSignalInstances},
    {"setStaticPart", node_setStaticPart},
    {"setElsePart", node_setElsePart},
    {"addDynamicParts", node_addDynamicParts},
    {"getStaticPart", node_getStaticPart},
    {"getElsePart", node_getElsePart},
    {"enumDynamicParts", node_enumDynamicParts},
    {"addFrameTriggerings", node_addFrameTriggerings},
    {"enumFrameTriggerings", node_enumFrameTriggerings},
    {"addPDUTriggerings", node_addPDUTriggerings},
    {"enumPDUTriggerings", node_enumPDUTriggerings},
    {"addPDUInstances", node_addPDUInstances},
    {"enumPDUInstances", node_enumPDUInstances},
    {"addInternalToPhysicalComputations", node_addInternalToPhysicalComputations},
    {"addPhysicalToInternalComputations", node_addPhysicalToInternalComputations},
    {"getUnit", node_getUnit},
    {"enumInternalToPhysicalComputations", node_enumInternalToPhysicalComputations},
    {"enumPhysicalToInternalComputations", node_enumPhysicalToInternalComputations},
    {"setDisplayName", node_setDisplayName},
    {"getDisplayName", node_getDisplayName},
    {"addRange", node_addRange},
    {"enumRanges", node_enumRanges},
    {"setFrame", node_setFrame},
    {"getFrame", node_getFrame},
    {"setSourceECU", node_setSourceECU},
    {"getSourceECU", node_getSourceECU},
    {"setChannel", node_setChannel},
    {"getChannel", node_getChannel},
    {"setSignal", node_setSignal},
    {"addClusters", db_addClusters},
    {"addECUs", db_addECUs},
    {"addFrames", db_addFrames},
    {"addCodings", db_addCodings},
    {"addPDUs", db_addPDUs},
    {"addSignals", db_addSignals},
    {"addViews", db_addViews},
    {"dumpDot", db_dumpDot},
    {"enumIdentElements", db_enumIdentElements},
    {"enumClusters", db_enumClusters},
    {"enumECUs", db_enumECUs},
    {"enumFrames", db_enumFrames},
    {"enumCodings", db_enumCodings},
    {"enumPDUs", db_enumPDUs},
    {"enumSignals", db_enumSignals},
    {"enumViews", db_enumViews},
    {"decodeMessage", node_decodeMessage},
    {"internalToPhysical", node_internalToPhysical},
    {"checkValueInMinMax", node_checkValueInMinMax},
    {nullptr, nullptr},
};

}  // namespace vexo::lua
