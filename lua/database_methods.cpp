// Methods of database values: element creation, the default groups, enumeration of the
// whole model, string slots, qualified identifiers, the DOT dump and __gc. Each wrapper
// converts its arguments in order, calls one exported operation and shapes the result.
#include "binding.h"
#include "iterators.h"
#include "methods.h"
#include "node_classes.h"
#include "vexo/diag.h"
#include "vexo/enumerate.h"
#include "vexo/model.h"

namespace vexo::lua {

using namespace core;

namespace {

int db_findByElementId(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    VexoNode *found = nullptr;
    const HRESULT result = Vexo_findByElementId(database, id, &found);
    return pushLookup(L, result, found);
}

int db_createCluster(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t clusterType = toInteger32(L, 3);
    VexoNode *made = nullptr;
    Vexo_createCluster(database, id, clusterType, &made);
    return pushMade(L, made);
}

int db_createChannel(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    VexoNode *cluster = checkNode(L, 3, Cluster::kCode);
    VexoNode *made = nullptr;
    Vexo_createChannel(database, id, cluster, &made);
    return pushMade(L, made);
}

int db_createUnitSpec(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t language = toLanguage(L, 3);
    const VexoChar *displayName = toWideArgument(L, 4);
    VexoNode *made = nullptr;
    Vexo_createUnitSpec(database, id, language, displayName, &made);
    return pushMade(L, made);
}

int db_createFrame(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t length = toInteger32(L, 3);
    VexoNode *made = nullptr;
    Vexo_createFrame(database, id, length, &made);
    return pushMade(L, made);
}

int db_createAbsolutelyScheduledTriggering(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t slotId = toInteger32(L, 3);
    const uint32_t baseCycle = toInteger32(L, 4);
    const uint32_t repetition = toInteger32(L, 5);
    const uint32_t flags = toInteger32(L, 6);
    VexoNode *frame = checkNode(L, 7, Frame::kCode);
    VexoNode *sourceEcu = checkNode(L, 8, ElementGroup::kCode);
    VexoNode *channel = checkNode(L, 9, Channel::kCode);
    VexoNode *made = nullptr;
    Vexo_createAbsolutelyScheduledTriggering(database, id, slotId, baseCycle, repetition, flags, frame, sourceEcu,
                                             channel, &made);
    return pushMade(L, made);
}

int db_createIdentifierBasedTriggering(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t identifier = toUnsigned32(L, 3);
    const uint32_t flags = toUnsigned32(L, 4);
    VexoNode *frame = checkNode(L, 5, Frame::kCode);
    VexoNode *sourceEcu = checkNode(L, 6, ElementGroup::kCode);
    VexoNode *channel = checkNode(L, 7, Channel::kCode);
    VexoNode *made = nullptr;
    Vexo_createIdentifierBasedTriggering(database, id, identifier, flags, frame, sourceEcu, channel, &made);
    return pushMade(L, made);
}

int db_createMaskedIdentifierTriggering(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t mask = toUnsigned32(L, 3);
    const uint32_t code = toUnsigned32(L, 4);
    const uint32_t flags = toUnsigned32(L, 5);
    VexoNode *frame = checkNode(L, 6, Frame::kCode);
    VexoNode *sourceEcu = checkNode(L, 7, ElementGroup::kCode);
    VexoNode *channel = checkNode(L, 8, Channel::kCode);
    VexoNode *made = nullptr;
    Vexo_createMaskedIdentifierTriggering(database, id, mask, code, flags, frame, sourceEcu, channel, &made);
    return pushMade(L, made);
}

int db_createECU(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    VexoNode *made = nullptr;
    Vexo_createECU(database, id, &made);
    return pushMade(L, made);
}

int db_createSignalPDU(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t bitLength = toInteger32(L, 3);
    VexoNode *referrer = checkNode(L, 4, ElementReference::kCode);
    VexoNode *made = nullptr;
    Vexo_createSignalPDU(database, id, bitLength, referrer, &made);
    return pushMade(L, made);
}

int db_createPDUInstance(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t byteOrder = toInteger32(L, 3);
    const uint32_t bitPosition = toInteger32(L, 4);
    const uint32_t updateBitPosition = toInteger32(L, 5);
    VexoNode *pdu = checkNode(L, 6, PDU::kCode);
    VexoNode *owner = checkEitherNode(L, 7, Channel::kCode, Frame::kCode, "Channel or Frame");
    VexoNode *made = nullptr;
    Vexo_createPDUInstance(database, id, byteOrder, bitPosition, updateBitPosition, pdu, owner, &made);
    return pushMade(L, made);
}

int db_createPDUTriggering(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    VexoNode *pdu = checkNode(L, 3, PDU::kCode);
    VexoNode *channel = checkNode(L, 4, Channel::kCode);
    VexoNode *made = nullptr;
    Vexo_createPDUTriggering(database, id, pdu, channel, &made);
    return pushMade(L, made);
}

int db_createMultiplexedPart(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t switchCode = toInteger32(L, 3);
    VexoNode *pdu = checkNode(L, 4, PDU::kCode);
    VexoNode *made = nullptr;
    Vexo_createMultiplexedPart(database, id, switchCode, pdu, &made);
    return pushMade(L, made);
}

int db_createMultiplexedPDU(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t bitLength = toInteger32(L, 3);
    const uint32_t switchByteOrder = toInteger32(L, 4);
    const uint32_t switchPosition = toInteger32(L, 5);
    const uint32_t switchLength = toInteger32(L, 6);
    const uint32_t defaultSwitchCode = toUnsigned32(L, 7);
    VexoNode *referrer = checkNode(L, 8, ElementReference::kCode);
    VexoNode *made = nullptr;
    Vexo_createMultiplexedPDU(database, id, bitLength, switchByteOrder, switchPosition, switchLength,
                              defaultSwitchCode, referrer, &made);
    return pushMade(L, made);
}

int db_createSignal(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t flags = toUnsigned32(L, 3);
    const double defaultValue = lua_tonumber(L, 4);
    const double minValue = lua_tonumber(L, 5);
    const double maxValue = lua_tonumber(L, 6);
    VexoNode *coding = checkNode(L, 7, Coding::kCode);
    VexoNode *made = nullptr;
    Vexo_createSignal(database, id, flags, defaultValue, minValue, maxValue, coding, &made);
    return pushMade(L, made);
}

int db_createSignalInstance(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t byteOrder = toInteger32(L, 3);
    const uint32_t bitPosition = toInteger32(L, 4);
    const uint32_t updateBitPosition = toInteger32(L, 5);
    VexoNode *signal = checkNode(L, 6, Signal::kCode);
    VexoNode *pdu = checkNode(L, 7, SignalPDU::kCode);
    VexoNode *made = nullptr;
    Vexo_createSignalInstance(database, id, byteOrder, bitPosition, updateBitPosition, signal, pdu, &made);
    return pushMade(L, made);
}

int db_createCoding(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const uint32_t bitLength = toInteger32(L, 3);
    const uint32_t encoding = toUnsigned32(L, 4);
    VexoNode *unit = checkNode(L, 5, UnitSpec::kCode);
    if (encoding == 0)
        luaL_argerror(L, 4, "invalid encoding constant");
    VexoNode *made = nullptr;
    Vexo_createCoding(database, id, bitLength, encoding, unit, &made);
    return pushMade(L, made);
}

int db_createIdentityComputation(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    VexoNode *made = nullptr;
    Vexo_createIdentityComputation(database, id, &made);
    return pushMade(L, made);
}

int db_createLinearComputation(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const double scale = lua_tonumber(L, 3);
    const double offset = lua_tonumber(L, 4);
    VexoNode *made = nullptr;
    Vexo_createLinearComputation(database, id, scale, offset, &made);
    return pushMade(L, made);
}

int db_createMappedValueComputation(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    const double value = lua_tonumber(L, 3);
    VexoNode *made = nullptr;
    Vexo_createMappedValueComputation(database, id, value, &made);
    return pushMade(L, made);
}

int db_createMappedTextComputation(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    VexoStringSlot *text = checkStringSlot(L, 3);
    VexoNode *made = nullptr;
    Vexo_createMappedTextComputation(database, id, text, &made);
    return pushMade(L, made);
}

VexoNode *checkTimingOwner(lua_State *L, int index)
{
    return checkEitherNode(L, index, PDUTriggering::kCode, IdentifierBasedTriggering::kCode,
                           "PDUTriggering or IdentifierBasedTriggering");
}

int db_createEventControlledTiming(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const uint32_t debounceTime = toInteger32(L, 2);
    VexoNode *triggering = checkTimingOwner(L, 3);
    VexoNode *made = nullptr;
    Vexo_createEventControlledTiming(database, debounceTime, triggering, &made);
    return pushMade(L, made);
}

int db_createCyclicTiming(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const uint64_t cycleTime = lua_type(L, 2) == LUA_TSTRING
                                   ? parseUnsigned(lua_tostring(L, 2), UINT64_MAX)
                                   : static_cast<uint64_t>(truncateToInt64(lua_tonumber(L, 2)));
    VexoNode *triggering = checkTimingOwner(L, 3);
    VexoNode *made = nullptr;
    Vexo_createCyclicTiming(database, cycleTime, triggering, &made);
    return pushMade(L, made);
}

int db_createElementGroup(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    VexoNode *parent = checkNode(L, 3, ElementGroup::kCode);
    VexoNode *reference = checkNode(L, 4, ElementId::kCode);
    VexoNode *made = nullptr;
    Vexo_createElementGroup(database, id, parent, reference, &made);
    return pushMade(L, made);
}

int db_createElementReference(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *id = toWideArgument(L, 2);
    VexoNode *target = checkNode(L, 3, ElementId::kCode);
    VexoNode *made = nullptr;
    Vexo_createElementReference(database, id, target, &made);
    return pushMade(L, made);
}

int db_stringCreateSlot(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const uint32_t language = toLanguage(L, 2);
    const VexoChar *text = toWideArgument(L, 3);
    VexoStringSlot *slot = nullptr;
    const HRESULT result = Vexo_stringCreateSlot(database, language, text, &slot);
    pushStringSlot(L, slot);
    pushCode(L, result);
    return 2;
}

int db_stringCreateSlotA(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const uint32_t language = toLanguage(L, 2);
    const char *text = lua_tostring(L, 3);
    VexoStringSlot *slot = nullptr;
    const HRESULT result = Vexo_stringCreateSlotA(database, language, text, &slot);
    pushStringSlot(L, slot);
    pushCode(L, result);
    return 2;
}

int db_stringAddAlternative(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoStringSlot *slot = checkStringSlot(L, 2);
    const uint32_t language = toLanguage(L, 3);
    const VexoChar *text = toWideArgument(L, 4);
    return pushResult(L, Vexo_stringAddAlternative(database, slot, language, text));
}

int db_stringAddAlternativeA(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoStringSlot *slot = checkStringSlot(L, 2);
    const uint32_t language = toLanguage(L, 3);
    const char *text = lua_tostring(L, 4);
    return pushResult(L, Vexo_stringAddAlternativeA(database, slot, language, text));
}

int db_stringLookup(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoStringSlot *slot = checkStringSlot(L, 2);
    const uint32_t language = toLanguage(L, 3);
    const uint32_t fallbackLanguage = toLanguage(L, 4);
    const VexoChar *text = nullptr;
    const HRESULT result = Vexo_stringLookup(database, slot, language, fallbackLanguage, &text);
    return pushText(L, result, text);
}

// Pushes a caller-owned string without its terminator ("" for null) and releases it.
void pushCallerString(lua_State *L, VexoString text)
{
    if (text == nullptr) {
        lua_pushliteral(L, "");
        return;
    }
    lua_pushlstring(L, reinterpret_cast<const char *>(text), Vexo_getStringLength(text) * sizeof(VexoChar));
    Vexo_freeString(text);
}

int db_getQualifiedId(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoNode *element = checkNode(L, 2, ObjectBase::kCode);
    VexoString qualified = nullptr;
    const HRESULT result = Vexo_getQualifiedId(database, element, &qualified);
    if (result != S_OK) {
        Vexo_freeString(qualified);
        return pushFailure(L, result);
    }
    pushCallerString(L, qualified);
    return 1;
}

// Called with the dot syntax: argument 1 is the qualified identifier itself.
int db_splitQualifiedId(lua_State *L)
{
    const VexoChar *qualified = toWideArgument(L, 1);
    VexoString databaseId = nullptr;
    VexoString elementId = nullptr;
    const HRESULT result = Vexo_splitQualifiedId(qualified, &databaseId, &elementId);
    if (result != S_OK) {
        Vexo_freeString(databaseId);
        Vexo_freeString(elementId);
        return pushFailure(L, result);
    }
    pushCallerString(L, databaseId);
    pushCallerString(L, elementId);
    return 2;
}

int db_gc(lua_State *L)
{
    auto *value = static_cast<DatabaseValue *>(checkUserdata(L, 1, kDatabaseType));
    if (value->owned != 0 && value->handle != nullptr)
        Vexo_destroy(value->handle);
    value->handle = nullptr;
    return 0;
}

int enumerateModel(lua_State *L, EnumerateFunction enumerate)
{
    VexoNode *database = checkDatabaseOrCollections(L, 1);
    pushEnumeration(L, enumerate, database);
    return 1;
}

}  // namespace

int db_addClusters(lua_State *L)
{
    return addLoop(L, checkDatabaseOrCollections(L, 1), 2, Cluster::kCode, Vexo_addClusters, false);
}

// The other database-level add loops start at argument 3: argument 2 is not read.
int db_addECUs(lua_State *L)
{
    return addLoop(L, checkDatabaseOrCollections(L, 1), 3, ElementGroup::kCode, Vexo_addECUs, false);
}

int db_addFrames(lua_State *L)
{
    return addLoop(L, checkDatabaseOrCollections(L, 1), 3, Frame::kCode, Vexo_addFrames, false);
}

int db_addPDUs(lua_State *L)
{
    return addLoop(L, checkDatabaseOrCollections(L, 1), 3, PDU::kCode, Vexo_addPDUs, false);
}

int db_addSignals(lua_State *L)
{
    return addLoop(L, checkDatabaseOrCollections(L, 1), 3, Signal::kCode, Vexo_addSignals, false);
}

int db_addCodings(lua_State *L)
{
    return addLoop(L, checkDatabaseOrCollections(L, 1), 3, Coding::kCode, Vexo_addCodings, false);
}

int db_addViews(lua_State *L)
{
    return addLoop(L, checkDatabaseOrCollections(L, 1), 3, ElementGroup::kCode, Vexo_addViews, false);
}

int db_enumIdentElements(lua_State *L) { return enumerateModel(L, Vexo_enumIdentElements); }
int db_enumClusters(lua_State *L) { return enumerateModel(L, Vexo_enumClusters); }
int db_enumECUs(lua_State *L) { return enumerateModel(L, Vexo_enumECUs); }
int db_enumFrames(lua_State *L) { return enumerateModel(L, Vexo_enumFrames); }
int db_enumCodings(lua_State *L) { return enumerateModel(L, Vexo_enumCodings); }
int db_enumPDUs(lua_State *L) { return enumerateModel(L, Vexo_enumPDUs); }
int db_enumSignals(lua_State *L) { return enumerateModel(L, Vexo_enumSignals); }
int db_enumViews(lua_State *L) { return enumerateModel(L, Vexo_enumViews); }

int db_getCollections(lua_State *L)
{
    VexoNode *database = checkDatabaseOrCollections(L, 1);
    VexoNode *collections = nullptr;
    const HRESULT result = Vexo_getDatabaseCollections(database, &collections);
    if (result != S_OK) {
        lua_pushnil(L);
        lua_pushnumber(L, result);
        return 2;
    }
    pushNode(L, collections);
    return 1;
}

int db_dumpDot(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    const VexoChar *path = toWideArgument(L, 2);
    const uint32_t language = toLanguage(L, 3);
    const uint32_t fallbackLanguage = toLanguage(L, 4);
    return pushResult(L, Vexo_dumpDot(database, path, language, fallbackLanguage));
}

// Database values have the node methods too (registered first); these are their own.
const luaL_Reg kDatabaseMethods[] = {
    {"findByElementId", db_findByElementId},
    {"createCluster", db_createCluster},
    {"createChannel", db_createChannel},
    {"createUnitSpec", db_createUnitSpec},
    {"createFrame", db_createFrame},
    {"createAbsolutelyScheduledTriggering", db_createAbsolutelyScheduledTriggering},
    {"createIdentifierBasedTriggering", db_createIdentifierBasedTriggering},
    {"createMaskedIdentifierTriggering", db_createMaskedIdentifierTriggering},
    {"createECU", db_createECU},
    {"createSignalPDU", db_createSignalPDU},
    {"createPDUInstance", db_createPDUInstance},
    {"createPDUTriggering", db_createPDUTriggering},
    {"createMultiplexedPart", db_createMultiplexedPart},
    {"createMultiplexedPDU", db_createMultiplexedPDU},
    {"createSignal", db_createSignal},
    {"createSignalInstance", db_createSignalInstance},
    {"createCoding", db_createCoding},
    {"createIdentityComputation", db_createIdentityComputation},
    {"createLinearComputation", db_createLinearComputation},
    {"createMappedValueComputation", db_createMappedValueComputation},
    {"createMappedTextComputation", db_createMappedTextComputation},
    {"createEventControlledTiming", db_createEventControlledTiming},
    {"createCyclicTiming", db_createCyclicTiming},
    {"createElementGroup", db_createElementGroup},
    {"createElementReference", db_createElementReference},
    {"stringCreateSlot", db_stringCreateSlot},
    {"stringCreateSlotA", db_stringCreateSlotA},
    {"stringAddAlternative", db_stringAddAlternative},
    {"stringAddAlternativeA", db_stringAddAlternativeA},
    {"stringLookup", db_stringLookup},
    {"getQualifiedId", db_getQualifiedId},
    {"splitQualifiedId", db_splitQualifiedId},
    {"createEncoder", db_createEncoder},
    {"__gc", db_gc},
    {nullptr, nullptr},
};

}  // namespace vexo::lua
