// The Lua property tables against the C getters: one node of every class with distinctive values in every field, every
// property read through attribs (names and order pinned per class) and compared with indexing and with what the
// matching exported getter or enumerator gives. A field position, reader or name that drifts fails here.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "binding.h"
#include "list_of.h"
#include "made.h"
#include "test_text.h"
#include "vexo/lua_module.h"
#include "vexo/vexo.h"

namespace {

using vexo::lua::handleAt;

constexpr uint32_t kLanguage = 9;

struct Model {
    VexoNode *db = nullptr;
    std::vector<std::pair<std::string, VexoNode *>> nodes;  // class name, node
    ~Model() { Vexo_destroy(db); }
    VexoNode *add(const char *klass, VexoNode *node) { return nodes.emplace_back(klass, node).second; }
};

// One node of every class, each field set to a value no other field of it has, high
// bits included so that signed and unsigned readings differ.
void buildModel(Model &m)
{
    ASSERT_EQ(Vexo_create(u"DB", &m.db), S_OK);
    VexoNode *db = m.db, *collections = nullptr;
    m.add("Vexo", db);
    ASSERT_EQ(Vexo_getDatabaseCollections(db, &collections), S_OK);
    m.add("DatabaseCollections", collections);

    VexoNode *cluster = m.add("Cluster", made(Vexo_createCluster, db, u"CAN", Q3_CLUSTERTYPE_LIN));
    VexoNode *channel = m.add("Channel", made(Vexo_createChannel, db, u"CH", cluster));
    Vexo_setParent(channel, cluster);
    VexoNode *ecu = m.add("ElementGroup", made(Vexo_createECU, db, u"ECU"));
    VexoNode *frame = m.add("Frame", made(Vexo_createFrame, db, u"F", 0x80000008u));
    VexoNode *ast = m.add("AbsolutelyScheduledTriggering", made(Vexo_createAbsolutelyScheduledTriggering, db, u"AST",
                                                                0x80000011u, 0x80000012u, 0x80000013u, 0x80000014u,
                                                                frame, ecu, channel));
    VexoNode *ibt = m.add("IdentifierBasedTriggering", made(Vexo_createIdentifierBasedTriggering, db, u"IBT",
                                                            0x80000123u, 0x80000002u, frame, ecu, channel));
    VexoNode *mit = m.add("MaskedIdentifierTriggering", made(Vexo_createMaskedIdentifierTriggering, db, u"MIT",
                                                             0x80000700u, 0x80000200u, 3u, frame, ecu, channel));

    VexoNode *unit = m.add("UnitSpec", made(Vexo_createUnitSpec, db, u"U", kLanguage, u"km/h"));
    VexoNode *coding = m.add("Coding", made(Vexo_createCoding, db, u"K", 0x80000010u,
                                            uint32_t(Q3_ENCODING_2COMPL | Q3_ENCODING_SIGNED), unit));
    VexoNode *signal = m.add("Signal", made(Vexo_createSignal, db, u"S", 0x80000005u, 1.5, -2.5, 3.5, coding));

    VexoStringSlot *text = nullptr;
    Vexo_stringCreateSlot(db, kLanguage, u"mapped", &text);
    VexoNode *identity = m.add("IdentityComputation", made(Vexo_createIdentityComputation, db, u"I"));
    VexoNode *linear = m.add("LinearComputation", made(Vexo_createLinearComputation, db, u"L", 0.25, -7.5));
    VexoNode *mappedText = m.add("MappedTextComputation", made(Vexo_createMappedTextComputation, db, u"MT", text));
    VexoNode *mappedValue = m.add("MappedValueComputation", made(Vexo_createMappedValueComputation, db, u"MV", 42.125));
    for (VexoNode *computation : {identity, linear, mappedText, mappedValue}) {
        Vexo_addRange(computation, -1.25, 9.75, 0x80000001u);
        Vexo_addRange(computation, 10, 20, 2);
    }
    Vexo_addInternalToPhysicalComputations(coding, 1, &linear);
    VexoNode *twoComputations[] = {identity, mappedValue};
    Vexo_addPhysicalToInternalComputations(coding, 2, twoComputations);

    VexoNode *mux = m.add("MultiplexedPDU", made(Vexo_createMultiplexedPDU, db, u"MUX", 0x80000040u, 1u,
                                                 0x80000003u, 0x80000004u, 0x80000005u, nullptr));
    VexoNode *part = made(Vexo_createMultiplexedPart, db, u"PART", 0x80000001u, mux);
    Vexo_addDynamicParts(mux, 1, &part);
    Vexo_setStaticPart(mux, made(Vexo_createMultiplexedPart, db, u"STATIC", 7u, mux));
    Vexo_setElsePart(mux, part);
    Vexo_addSegment(part, 1, 0x80000002u, 0x80000003u);
    Vexo_addSegment(part, 0, 5, 6);
    m.add("MultiplexedPart", part);
    VexoNode *pdu = m.add("SignalPDU", made(Vexo_createSignalPDU, db, u"PDU", 0x80000020u, part));

    m.add("SignalInstance", made(Vexo_createSignalInstance, db, u"SI", 1u, 0x80000017u, 0x80000018u, signal, pdu));
    m.add("PDUInstance", made(Vexo_createPDUInstance, db, u"PI", 1u, 0x80000021u, 0x80000022u, mux, frame));
    VexoNode *pduTriggering = m.add("PDUTriggering", made(Vexo_createPDUTriggering, db, u"PT", pdu, channel));
    VexoNode *reference = m.add("ElementReference", made(Vexo_createElementReference, db, u"REF", signal));

    // Every list gets entries, so that each list comparison compares something.
    made(Vexo_createPDUInstance, db, u"PI2", 0u, 1u, 2u, pdu, channel);
    made(Vexo_createPDUTriggering, db, u"PT2", mux, static_cast<VexoNode *>(nullptr));
    VexoNode *members[] = {reference, unit, coding};
    Vexo_appendChildren(ecu, 3, members);
    Vexo_appendChildren(collections, 3, members);
    for (VexoNode *triggering : {ast, mit})
        Vexo_appendChildren(triggering, 2, members);

    m.add("EventControlledTiming", made(Vexo_createEventControlledTiming, db, 0x80000033u, pduTriggering));
    m.add("CyclicTiming", made(Vexo_createCyclicTiming, db, uint64_t(0x8000000123456789ull), ibt));
    m.add("Segment", listOf(Vexo_enumSegments, part).at(0));
    m.add("ValueRange", listOf(Vexo_enumRanges, linear).at(0));

    // Names, texts and client values on every element that can hold them.
    uint32_t param = 0xFFFFFF00u;
    for (auto &[klass, node] : m.nodes) {
        Vexo_setParam(node, param++);
        if (Vexo_isDerivedFrom(node, Q3_CLASS_ElementDetail) == 1) {
            const std::u16string name = u"short " + std::u16string(klass.begin(), klass.end());
            Vexo_setShortName(db, node, name.c_str());
            Vexo_setElementDetail(db, node, kLanguage, (u"long " + name).c_str(), (u"about " + name).c_str());
        }
    }
}

struct LuaState {
    lua_State *L = luaL_newstate();
    LuaState()
    {
        luaL_openlibs(L);
        lua_pushcfunction(L, luaopen_Vexo);
        lua_call(L, 0, 1);
        lua_setglobal(L, "Vexo");
    }
    ~LuaState() { lua_close(L); }
};

std::u16string luaText(lua_State *L, int index)
{
    size_t length = 0;
    const char *bytes = lua_tolstring(L, index, &length);
    std::u16string text(length / 2, u'\0');
    std::memcpy(text.data(), bytes, text.size() * 2);
    return text;
}

std::u16string orEmpty(const VexoChar *text) { return text != nullptr ? std::u16string(text) : std::u16string(); }

// The nodes a list iterator at index yields.
std::vector<VexoNode *> luaList(lua_State *L, int index)
{
    std::vector<VexoNode *> nodes;
    for (VexoNode *node = nullptr; nodes.size() < 1000; nodes.push_back(node)) {
        lua_pushvalue(L, index);
        lua_call(L, 0, 1);
        node = lua_isnil(L, -1) ? nullptr : handleAt(L, -1);
        lua_pop(L, 1);
        if (node == nullptr)
            break;
    }
    return nodes;
}

template <class T>
T get(HRESULT (*getter)(const VexoNode *, T *), const VexoNode *node)
{
    T value{};
    EXPECT_EQ(getter(node, &value), S_OK);
    return value;
}

// Compares one property value (at index) with the C interface's answer for the node.
using Comparison = std::function<void(lua_State *, int, VexoNode *, VexoNode *)>;
using TextGetter = HRESULT (*)(VexoNode *, const VexoNode *, uint32_t, uint32_t, const VexoChar **);

Comparison link(HRESULT (*getter)(const VexoNode *, VexoNode **))
{
    return [getter](lua_State *L, int i, VexoNode *, VexoNode *node) { EXPECT_EQ(handleAt(L, i), get(getter, node)); };
}

Comparison list(HRESULT (*enumerate)(VexoNode *, VexoEnumerator **))
{
    return [enumerate](lua_State *L, int i, VexoNode *, VexoNode *node) {
        ASSERT_EQ(lua_type(L, i), LUA_TFUNCTION);
        const std::vector<VexoNode *> expected = listOf(enumerate, node);
        EXPECT_FALSE(expected.empty()) << "give the list entries so that the comparison means something";
        EXPECT_EQ(luaList(L, i), expected);
    };
}

// signedField reads the field as int32_t, as the binding pushes it.
Comparison unsignedField(HRESULT (*getter)(const VexoNode *, uint32_t *), bool asSigned = false)
{
    return [getter, asSigned](lua_State *L, int i, VexoNode *, VexoNode *node) {
        const uint32_t value = get(getter, node);
        EXPECT_EQ(lua_tonumber(L, i), asSigned ? double(static_cast<int32_t>(value)) : double(value));
    };
}

Comparison signedField(HRESULT (*getter)(const VexoNode *, uint32_t *)) { return unsignedField(getter, true); }

Comparison realField(HRESULT (*getter)(const VexoNode *, double *))
{
    return [getter](lua_State *L, int i, VexoNode *, VexoNode *node) {
        EXPECT_EQ(lua_tonumber(L, i), get(getter, node));
    };
}

// A string slot value: its text equals what the getter gives (in kLanguage).
Comparison slotField(TextGetter getter)
{
    return [getter](lua_State *L, int i, VexoNode *db, VexoNode *node) {
        ASSERT_EQ(lua_type(L, i), LUA_TUSERDATA);
        const VexoChar *expected = nullptr, *text = nullptr;
        getter(db, node, kLanguage, kLanguage, &expected);
        EXPECT_FALSE(orEmpty(expected).empty());
        VexoStringSlot *slot = nullptr;
        std::memcpy(&slot, lua_touserdata(L, i), sizeof slot);
        Vexo_stringLookup(db, slot, kLanguage, kLanguage, &text);
        EXPECT_EQ(orEmpty(text), orEmpty(expected));
    };
}

Comparison defaultGroup(const VexoChar *name)
{
    return [name](lua_State *L, int i, VexoNode *db, VexoNode *) {
        VexoNode *group = nullptr;
        EXPECT_EQ(Vexo_findByElementId(db, name, &group), S_OK) << ascii(name);
        EXPECT_EQ(handleAt(L, i), group);
    };
}

const std::map<std::string, Comparison> &comparisons()
{
    static const std::map<std::string, Comparison> table = {
        {"nodetype", [](lua_State *L, int i, VexoNode *, VexoNode *node) {
             EXPECT_EQ(lua_tointeger(L, i), Vexo_getNodeType(node));
         }},
        {"tag", [](lua_State *, int, VexoNode *, VexoNode *) {}},  // checked against the class below
        {"eid", [](lua_State *L, int i, VexoNode *, VexoNode *node) {
             const VexoChar *id = nullptr;
             ASSERT_EQ(Vexo_getElementId(node, &id), S_OK);
             EXPECT_EQ(lua_isnil(L, i) ? u"(nil)" : luaText(L, i), id == nullptr ? u"(nil)" : std::u16string(id));
         }},
        {"shortname", [](lua_State *L, int i, VexoNode *db, VexoNode *node) {
             const VexoChar *text = nullptr;
             ASSERT_EQ(Vexo_getShortName(db, node, &text), S_OK);
             EXPECT_EQ(luaText(L, i), std::u16string(text));
         }},
        {"identElements", [](lua_State *L, int i, VexoNode *db, VexoNode *) {
             EXPECT_EQ(listOf(Vexo_enumChildren, handleAt(L, i)), listOf(Vexo_enumIdentElements, db));
         }},
        {"cycleTime", [](lua_State *L, int i, VexoNode *, VexoNode *node) {
             ASSERT_EQ(lua_type(L, i), LUA_TUSERDATA);
             uint64_t value = 0;
             std::memcpy(&value, lua_touserdata(L, i), sizeof value);
             EXPECT_EQ(value, get(Vexo_getCycletime, node));
         }},
        {"group", link(Vexo_getGroup)}, {"parent", link(Vexo_getParent)}, {"reference", link(Vexo_getReference)},
        {"collections", link(Vexo_getReference)}, {"channel", link(Vexo_getChannel)}, {"frame", link(Vexo_getFrame)},
        {"sourceEcu", link(Vexo_getSourceECU)}, {"signal", link(Vexo_getReference)},
        {"coding", link(Vexo_getReference)}, {"unit", link(Vexo_getUnit)}, {"staticPart", link(Vexo_getStaticPart)},
        {"elsePart", link(Vexo_getElsePart)}, {"longname", slotField(Vexo_getLongName)},
        {"description", slotField(Vexo_getDescription)}, {"displayName", slotField(Vexo_getDisplayName)},
        {"textvalue", slotField(Vexo_getTextValue)}, {"clusters", defaultGroup(Q3_GROUPNAME_CLUSTERS)},
        {"ECUs", defaultGroup(Q3_GROUPNAME_ECUS)}, {"PDUs", defaultGroup(Q3_GROUPNAME_PDUS)},
        {"frames", defaultGroup(Q3_GROUPNAME_FRAMES)}, {"signals", defaultGroup(Q3_GROUPNAME_SIGNALS)},
        {"codings", defaultGroup(Q3_GROUPNAME_CODINGS)}, {"views", defaultGroup(Q3_GROUPNAME_VIEWS)},
        {"flags", unsignedField(Vexo_getFlags)}, {"mask", unsignedField(Vexo_getIdentifierMask)},
        {"code", unsignedField(Vexo_getIdentifierCode)}, {"switchCode", unsignedField(Vexo_getSwitchCode)},
        {"defaultSwitchCode", unsignedField(Vexo_getDefaultSwitchCode)},
        {"clusterType", signedField(Vexo_getClusterType)}, {"slotId", signedField(Vexo_getSlotId)},
        {"baseCycle", signedField(Vexo_getCycleOffset)}, {"repetition", signedField(Vexo_getRepetition)},
        {"identifier", signedField(Vexo_getIdentifier)}, {"byteOrder", signedField(Vexo_getByteOrder)},
        {"bitpos", signedField(Vexo_getBitPosition)}, {"updateBitpos", signedField(Vexo_getUpdateBitPosition)},
        {"bitlen", signedField(Vexo_getBitLength)}, {"encoding", signedField(Vexo_getEncoding)},
        {"length", signedField(Vexo_getLength)}, {"switchByteOrder", signedField(Vexo_getSwitchByteOrder)},
        {"switchPosition", signedField(Vexo_getSwitchPosition)}, {"switchLength", signedField(Vexo_getSwitchLength)},
        {"debounceTime", signedField(Vexo_getDebounceTime)}, {"param", signedField(Vexo_getParam)},
        {"defaultValue", realField(Vexo_getDefaultValue)}, {"minValue", realField(Vexo_getMinValue)},
        {"maxValue", realField(Vexo_getMaxValue)}, {"scale", realField(Vexo_getScale)},
        {"offset", realField(Vexo_getOffset)}, {"value", realField(Vexo_getValue)},
        {"lowerLimit", realField(Vexo_getLowerLimit)}, {"upperLimit", realField(Vexo_getUpperLimit)},
        {"children", list(Vexo_enumChildren)}, {"signalInstances", list(Vexo_enumSignalInstances)},
        {"internalToPhysicalCompus", list(Vexo_enumInternalToPhysicalComputations)},
        {"physicalToInternalCompus", list(Vexo_enumPhysicalToInternalComputations)},
        {"segments", list(Vexo_enumSegments)}, {"frameTriggerings", list(Vexo_enumFrameTriggerings)},
        {"PDUTriggerings", list(Vexo_enumPDUTriggerings)}, {"PDUInstances", list(Vexo_enumPDUInstances)},
        {"ranges", list(Vexo_enumRanges)}, {"triggerings", list(Vexo_enumPDUTriggerings)},
        {"parents", list(Vexo_enumParents)}, {"dynamicParts", list(Vexo_enumDynamicParts)},
    };
    return table;
}

// The properties of each class, in the order attribs gives them.
std::string expectedNames(const std::string &klass)
{
    const std::string two = "nodetype tag ", five = two + "eid group param ",
                      eight = five + "shortname longname description ", nine = eight + "parent ",
                      ten = nine + "reference ", triggering = ten + "children channel frame sourceEcu flags ";
    const std::map<std::string, std::string> names = {
        {"ElementReference", ten}, {"Vexo", ten + "collections "}, {"ElementGroup", ten + "children "},
        {"DatabaseCollections", ten + "children identElements clusters ECUs PDUs frames signals codings views "},
        {"Cluster", ten + "children clusterType "}, {"PDUTriggering", ten + "children "},
        {"AbsolutelyScheduledTriggering", triggering + "slotId baseCycle repetition "},
        {"IdentifierBasedTriggering", triggering + "identifier "},
        {"MaskedIdentifierTriggering", triggering + "mask code "},
        {"SignalInstance", ten + "signal byteOrder bitpos updateBitpos "},
        {"Signal", eight + "signalInstances flags defaultValue minValue maxValue coding "},
        {"Coding", eight + "unit bitlen encoding internalToPhysicalCompus physicalToInternalCompus "},
        {"PDUInstance", ten + "byteOrder bitpos updateBitpos "}, {"MultiplexedPart", ten + "switchCode segments "},
        {"Channel", nine + "frameTriggerings PDUTriggerings PDUInstances "}, {"Frame", eight + "length PDUInstances "},
        {"UnitSpec", five + "displayName "}, {"IdentityComputation", five + "ranges "},
        {"LinearComputation", five + "ranges scale offset "}, {"MappedTextComputation", five + "ranges textvalue "},
        {"MappedValueComputation", five + "ranges value "},
        {"SignalPDU", eight + "bitlen triggerings parents signalInstances "},
        {"MultiplexedPDU", eight + "bitlen triggerings parents switchByteOrder switchPosition switchLength "
                                   "defaultSwitchCode dynamicParts staticPart elsePart "},
        {"EventControlledTiming", two + "debounceTime "}, {"CyclicTiming", two + "cycleTime "},
        {"Segment", two + "byteOrder bitpos bitlen "}, {"ValueRange", two + "lowerLimit upperLimit flags "},
    };
    const auto found = names.find(klass);
    return found != names.end() ? found->second : "?";
}

TEST(LuaProperties, EveryPropertyOfEveryClassMatchesItsGetter)
{
    Model model;
    buildModel(model);
    LuaState lua;
    lua_State *L = lua.L;
    std::set<std::string> classes;
    size_t compared = 0;
    for (auto &[klass, node] : model.nodes) {
        SCOPED_TRACE(klass);
        ASSERT_NE(node, nullptr);
        classes.insert(klass);
        const int base = lua_gettop(L);
        lua_getglobal(L, "Vexo");
        lua_getfield(L, -1, "attribs");
        if (node == model.db)
            vexo::lua::pushDatabase(L, node, false);
        else
            vexo::lua::pushNode(L, node);
        lua_call(L, 1, 3);  // iterator, node value, nil
        const int iterator = base + 2, value = base + 3;
        EXPECT_EQ(handleAt(L, value), node);
        EXPECT_TRUE(lua_isnil(L, base + 4));
        size_t properties = 0;
        std::string names;
        for (;;) {
            lua_pushvalue(L, iterator);
            lua_pushvalue(L, value);
            lua_call(L, 1, 2);
            if (lua_isnil(L, -2)) {
                lua_pop(L, 2);
                break;
            }
            const std::string name = lua_tostring(L, -2);
            SCOPED_TRACE(name);
            names += name + " ";
            lua_getfield(L, value, name.c_str());  // indexing gives the same value (or kind of value)
            EXPECT_EQ(lua_type(L, -1), lua_type(L, -2));
            EXPECT_TRUE(lua_isuserdata(L, -1) || lua_isfunction(L, -1) || lua_rawequal(L, -1, -2));
            lua_pop(L, 1);
            const auto comparison = comparisons().find(name);
            if (comparison == comparisons().end())
                ADD_FAILURE() << "no C getter is known for property " << name;
            else
                comparison->second(L, lua_gettop(L), model.db, node);
            if (name == "tag") {
                EXPECT_EQ(luaText(L, -1), std::u16string(klass.begin(), klass.end()));
            }
            ++properties;
            lua_pop(L, 2);
        }
        EXPECT_EQ(names, expectedNames(klass));
        compared += properties;
        lua_settop(L, base);
    }
    EXPECT_EQ(classes.size(), 27u);
    EXPECT_GT(compared, 200u);
}

TEST(LuaProperties, IndexingAHandleOfAClassWithoutPropertiesRaises)
{
    LuaState lua;
    lua_State *L = lua.L;
    // A handle whose first word is the code of an abstract class (no instances, no table).
    const uint32_t timingCode = Q3_CLASS_Timing;
    const void *handle = &timingCode;
    std::memcpy(lua_newuserdata(L, sizeof handle), &handle, sizeof handle);
    luaL_getmetatable(L, vexo::lua::kNodeType);
    lua_setmetatable(L, -2);
    lua_setglobal(L, "forged");
    for (const char *script : {"return forged.eid", "return Vexo.attribs(forged)"}) {
        ASSERT_NE(luaL_dostring(L, script), 0) << script;
        const std::string message = lua_tostring(L, -1);
        EXPECT_NE(message.find("Tried to index unknown node class (0x21236974)"), std::string::npos) << message;
        lua_pop(L, 1);
    }
}

TEST(LuaProperties, ModuleIsUsableFromAHostThatPushesAnUnownedDatabase)
{
    Model model;
    buildModel(model);
    {
        LuaState lua;
        vexo::lua::pushDatabase(lua.L, model.db, false);
        lua_setglobal(lua.L, "db");
        ASSERT_EQ(luaL_dostring(lua.L, "return db:findByElementId(Vexo.Q3_GROUPNAME_FRAMES):getNodeType()"), 0)
            << lua_tostring(lua.L, -1);
        EXPECT_EQ(lua_tointeger(lua.L, -1), Q3_NODETYPE_ElementGroup);
        ASSERT_EQ(luaL_dostring(lua.L, "getmetatable(db).__gc(db) return db.eid"), 0);
        EXPECT_TRUE(lua_isnil(lua.L, -1)) << "the value lets go of the handle";
    }
    // Closing the state left the database alone: it still answers.
    VexoNode *found = nullptr;
    EXPECT_EQ(Vexo_findByElementId(model.db, u"CAN", &found), S_OK);
}

}  // namespace
