// Node properties: one table per class with instances, each entry naming a member of the
// class's struct (node_classes.h), so the field positions are the compiler's offsetof and
// a member whose type does not suit the entry's reader fails to compile. The property
// reader (__index of node and database values) and attribs walk these tables.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "binding.h"
#include "iterators.h"
#include "node_classes.h"

namespace vexo::lua {

using namespace core;

namespace {

// How a field becomes one Lua value.
enum class Reader : uint8_t {
    None,       // the property reads as nil
    NodeType,   // Vexo_getNodeType of the node: integer
    ClassName,  // UTF-16 class name, nil when the class has none
    Text,       // UTF-16 text without terminator, nil for null
    Slot,       // string slot value
    Link,       // node value, nil for null
    Integer,    // signed 32-bit, Lua integer
    Signed,     // signed 32-bit, Lua number
    Unsigned,   // unsigned 32-bit, Lua number
    Real,       // double
    Wide,       // unsigned 64-bit, unsigned InternalValue
    Nodes,      // node list: iterator over its nodes
    Records,    // record list: iterator over its records as node values
};

struct Property {
    const char *name;                // empty in the entry that ends a table
    uint32_t offset;                 // bytes from the start of the node or record
    Reader reader;
    const core::ChunkLayout *layout; // the chunk layout of a list field, else null
};

// Which member types each reader can read.
template <class T>
constexpr bool fits(Reader reader)
{
    if constexpr (std::is_same_v<T, uint32_t>)
        return reader == Reader::NodeType || reader == Reader::ClassName || reader == Reader::Integer ||
               reader == Reader::Signed || reader == Reader::Unsigned;
    else if constexpr (std::is_same_v<T, double>)
        return reader == Reader::Real;
    else if constexpr (std::is_same_v<T, uint64_t>)
        return reader == Reader::Wide;
    else if constexpr (std::is_same_v<T, const VexoChar *>)
        return reader == Reader::Text;
    else if constexpr (std::is_same_v<T, StringSlot *>)
        return reader == Reader::Slot;
    else if constexpr (std::is_same_v<T, NodeList>)
        return reader == Reader::Nodes;
    else if constexpr (std::is_same_v<T, RecordList>)
        return reader == Reader::Records;
    else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<ObjectBase, std::remove_pointer_t<T>>)
        return reader == Reader::Link;
    else
        return false;
}

template <class T>
constexpr Property makeProperty(const char *name, size_t offset, Reader reader, const ChunkLayout *layout)
{
    if (!fits<T>(reader))
        throw "the member's type does not suit the property reader";
    return {name, static_cast<uint32_t>(offset), reader, layout};
}

// The structs are single-inheritance records without virtual members; offsetof gives
// what the compiler laid out (they are not standard-layout only because of the bases).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

#define VEXO_PROPERTY(Class, name, member, reader) \
    makeProperty<decltype(Class::member)>(name, offsetof(Class, member), Reader::reader, nullptr)
#define VEXO_NODES(Class, name, member) \
    makeProperty<decltype(Class::member)>(name, offsetof(Class, member), Reader::Nodes, &kSmallNodeLayout)
#define VEXO_RECORDS(Class, name, member, layout) \
    makeProperty<decltype(Class::member)>(name, offsetof(Class, member), Reader::Records, &(layout))
#define VEXO_LAST_PROPERTY Property{"", 0, Reader::None, nullptr}

// The common prefix, cut after 2, 5, 8, 9 or all 10 names.
#define VEXO_PREFIX2(C) \
    VEXO_PROPERTY(C, "nodetype", nodetype, NodeType), VEXO_PROPERTY(C, "tag", nodetype, ClassName)
#define VEXO_PREFIX5(C)                                                                   \
    VEXO_PREFIX2(C), VEXO_PROPERTY(C, "eid", eid, Text), VEXO_PROPERTY(C, "group", group, Link), \
        VEXO_PROPERTY(C, "param", param, Integer)
#define VEXO_PREFIX8(C)                                                                            \
    VEXO_PREFIX5(C), VEXO_PROPERTY(C, "shortname", shortname, Text),                               \
        VEXO_PROPERTY(C, "longname", longname, Slot), VEXO_PROPERTY(C, "description", description, Slot)
#define VEXO_PREFIX9(C) VEXO_PREFIX8(C), VEXO_PROPERTY(C, "parent", parent, Link)
#define VEXO_PREFIX10(C) VEXO_PREFIX9(C), VEXO_PROPERTY(C, "reference", reference, Link)

// Frame triggerings: the group's members, then channel and frame (the parent and
// reference fields under the names the triggering gives them), sender and flags.
#define VEXO_TRIGGERING(C)                                                                   \
    VEXO_PREFIX10(C), VEXO_NODES(C, "children", children), VEXO_PROPERTY(C, "channel", parent, Link), \
        VEXO_PROPERTY(C, "frame", reference, Link), VEXO_PROPERTY(C, "sourceEcu", sourceEcu, Link),   \
        VEXO_PROPERTY(C, "flags", flags, Unsigned)

// ORDER NODE_CLASS
constexpr Property kElementReference[] = {
    VEXO_PREFIX10(ElementReference),
    VEXO_LAST_PROPERTY,
};
constexpr Property kDatabase[] = {
    VEXO_PREFIX10(Vexo),
    VEXO_PROPERTY(Vexo, "collections", reference, Link),
    VEXO_LAST_PROPERTY,
};
constexpr Property kElementGroup[] = {
    VEXO_PREFIX10(ElementGroup),
    VEXO_NODES(ElementGroup, "children", children),
    VEXO_LAST_PROPERTY,
};
constexpr Property kDatabaseCollections[] = {
    VEXO_PREFIX10(DatabaseCollections),
    VEXO_NODES(DatabaseCollections, "children", children),
    VEXO_PROPERTY(DatabaseCollections, "identElements", identElements, Link),
    VEXO_PROPERTY(DatabaseCollections, "clusters", clusters, Link),
    VEXO_PROPERTY(DatabaseCollections, "ECUs", ECUs, Link),
    VEXO_PROPERTY(DatabaseCollections, "PDUs", PDUs, Link),
    VEXO_PROPERTY(DatabaseCollections, "frames", frames, Link),
    VEXO_PROPERTY(DatabaseCollections, "signals", signals, Link),
    VEXO_PROPERTY(DatabaseCollections, "codings", codings, Link),
    VEXO_PROPERTY(DatabaseCollections, "views", views, Link),
    VEXO_LAST_PROPERTY,
};
constexpr Property kCluster[] = {
    VEXO_PREFIX10(Cluster),
    VEXO_NODES(Cluster, "children", children),
    VEXO_PROPERTY(Cluster, "clusterType", clusterType, Signed),
    VEXO_LAST_PROPERTY,
};
constexpr Property kAbsolutelyScheduledTriggering[] = {
    VEXO_TRIGGERING(AbsolutelyScheduledTriggering),
    VEXO_PROPERTY(AbsolutelyScheduledTriggering, "slotId", slotId, Signed),
    VEXO_PROPERTY(AbsolutelyScheduledTriggering, "baseCycle", baseCycle, Signed),
    VEXO_PROPERTY(AbsolutelyScheduledTriggering, "repetition", repetition, Signed),
    VEXO_LAST_PROPERTY,
};
constexpr Property kIdentifierBasedTriggering[] = {
    VEXO_TRIGGERING(IdentifierBasedTriggering),
    VEXO_PROPERTY(IdentifierBasedTriggering, "identifier", identifier, Signed),
    VEXO_LAST_PROPERTY,
};
constexpr Property kMaskedIdentifierTriggering[] = {
    VEXO_TRIGGERING(MaskedIdentifierTriggering),
    VEXO_PROPERTY(MaskedIdentifierTriggering, "mask", mask, Unsigned),
    VEXO_PROPERTY(MaskedIdentifierTriggering, "code", code, Unsigned),
    VEXO_LAST_PROPERTY,
};
constexpr Property kPDUTriggering[] = {
    VEXO_PREFIX10(PDUTriggering),
    VEXO_NODES(PDUTriggering, "children", children),
    VEXO_LAST_PROPERTY,
};
constexpr Property kSignalInstance[] = {
    VEXO_PREFIX10(SignalInstance),
    VEXO_PROPERTY(SignalInstance, "signal", reference, Link),
    VEXO_PROPERTY(SignalInstance, "byteOrder", byteOrder, Signed),
    VEXO_PROPERTY(SignalInstance, "bitpos", bitpos, Signed),
    VEXO_PROPERTY(SignalInstance, "updateBitpos", updateBitpos, Signed),
    VEXO_LAST_PROPERTY,
};
constexpr Property kSignal[] = {
    VEXO_PREFIX8(Signal),
    VEXO_NODES(Signal, "signalInstances", signalInstances),
    VEXO_PROPERTY(Signal, "flags", flags, Unsigned),
    VEXO_PROPERTY(Signal, "defaultValue", defaultValue, Real),
    VEXO_PROPERTY(Signal, "minValue", minValue, Real),
    VEXO_PROPERTY(Signal, "maxValue", maxValue, Real),
    VEXO_PROPERTY(Signal, "coding", reference, Link),
    VEXO_LAST_PROPERTY,
};
// The two list names are published with the "Compus" spelling.
constexpr Property kCoding[] = {
    VEXO_PREFIX8(Coding),
    VEXO_PROPERTY(Coding, "unit", reference, Link),
    VEXO_PROPERTY(Coding, "bitlen", bitlen, Signed),
    VEXO_PROPERTY(Coding, "encoding", encoding, Signed),
    VEXO_NODES(Coding, "internalToPhysicalCompus", internalToPhysicalCompus),
    VEXO_NODES(Coding, "physicalToInternalCompus", physicalToInternalCompus),
    VEXO_LAST_PROPERTY,
};
constexpr Property kPDUInstance[] = {
    VEXO_PREFIX10(PDUInstance),
    VEXO_PROPERTY(PDUInstance, "byteOrder", byteOrder, Signed),
    VEXO_PROPERTY(PDUInstance, "bitpos", bitpos, Signed),
    VEXO_PROPERTY(PDUInstance, "updateBitpos", updateBitpos, Signed),
    VEXO_LAST_PROPERTY,
};
constexpr Property kMultiplexedPart[] = {
    VEXO_PREFIX10(MultiplexedPart),
    VEXO_PROPERTY(MultiplexedPart, "switchCode", switchCode, Unsigned),
    VEXO_RECORDS(MultiplexedPart, "segments", segments, kSegmentLayout),
    VEXO_LAST_PROPERTY,
};
constexpr Property kChannel[] = {
    VEXO_PREFIX9(Channel),
    VEXO_NODES(Channel, "frameTriggerings", frameTriggerings),
    VEXO_NODES(Channel, "PDUTriggerings", PDUTriggerings),
    VEXO_NODES(Channel, "PDUInstances", PDUInstances),
    VEXO_LAST_PROPERTY,
};
constexpr Property kFrame[] = {
    VEXO_PREFIX8(Frame),
    VEXO_PROPERTY(Frame, "length", length, Signed),
    VEXO_NODES(Frame, "PDUInstances", PDUInstances),
    VEXO_LAST_PROPERTY,
};
constexpr Property kUnitSpec[] = {
    VEXO_PREFIX5(UnitSpec),
    VEXO_PROPERTY(UnitSpec, "displayName", displayName, Slot),
    VEXO_LAST_PROPERTY,
};
constexpr Property kIdentityComputation[] = {
    VEXO_PREFIX5(IdentityComputation),
    VEXO_RECORDS(IdentityComputation, "ranges", ranges, kRangeLayout),
    VEXO_LAST_PROPERTY,
};
constexpr Property kLinearComputation[] = {
    VEXO_PREFIX5(LinearComputation),
    VEXO_RECORDS(LinearComputation, "ranges", ranges, kRangeLayout),
    VEXO_PROPERTY(LinearComputation, "scale", scale, Real),
    VEXO_PROPERTY(LinearComputation, "offset", offset, Real),
    VEXO_LAST_PROPERTY,
};
constexpr Property kMappedTextComputation[] = {
    VEXO_PREFIX5(MappedTextComputation),
    VEXO_RECORDS(MappedTextComputation, "ranges", ranges, kRangeLayout),
    VEXO_PROPERTY(MappedTextComputation, "textvalue", textvalue, Slot),
    VEXO_LAST_PROPERTY,
};
constexpr Property kMappedValueComputation[] = {
    VEXO_PREFIX5(MappedValueComputation),
    VEXO_RECORDS(MappedValueComputation, "ranges", ranges, kRangeLayout),
    VEXO_PROPERTY(MappedValueComputation, "value", value, Real),
    VEXO_LAST_PROPERTY,
};
constexpr Property kSignalPDU[] = {
    VEXO_PREFIX8(SignalPDU),
    VEXO_PROPERTY(SignalPDU, "bitlen", bitlen, Signed),
    VEXO_NODES(SignalPDU, "triggerings", triggerings),
    VEXO_NODES(SignalPDU, "parents", parents),
    VEXO_NODES(SignalPDU, "signalInstances", signalInstances),
    VEXO_LAST_PROPERTY,
};
constexpr Property kMultiplexedPDU[] = {
    VEXO_PREFIX8(MultiplexedPDU),
    VEXO_PROPERTY(MultiplexedPDU, "bitlen", bitlen, Signed),
    VEXO_NODES(MultiplexedPDU, "triggerings", triggerings),
    VEXO_NODES(MultiplexedPDU, "parents", parents),
    VEXO_PROPERTY(MultiplexedPDU, "switchByteOrder", switchByteOrder, Signed),
    VEXO_PROPERTY(MultiplexedPDU, "switchPosition", switchPosition, Signed),
    VEXO_PROPERTY(MultiplexedPDU, "switchLength", switchLength, Signed),
    VEXO_PROPERTY(MultiplexedPDU, "defaultSwitchCode", defaultSwitchCode, Unsigned),
    VEXO_NODES(MultiplexedPDU, "dynamicParts", dynamicParts),
    VEXO_PROPERTY(MultiplexedPDU, "staticPart", staticPart, Link),
    VEXO_PROPERTY(MultiplexedPDU, "elsePart", elsePart, Link),
    VEXO_LAST_PROPERTY,
};
constexpr Property kEventControlledTiming[] = {
    VEXO_PREFIX2(EventControlledTiming),
    VEXO_PROPERTY(EventControlledTiming, "debounceTime", debounceTime, Signed),
    VEXO_LAST_PROPERTY,
};
constexpr Property kCyclicTiming[] = {
    VEXO_PREFIX2(CyclicTiming),
    VEXO_PROPERTY(CyclicTiming, "cycleTime", cycleTime, Wide),
    VEXO_LAST_PROPERTY,
};
constexpr Property kSegment[] = {
    VEXO_PREFIX2(Segment),
    VEXO_PROPERTY(Segment, "byteOrder", byteOrder, Signed),
    VEXO_PROPERTY(Segment, "bitpos", bitpos, Signed),
    VEXO_PROPERTY(Segment, "bitlen", bitlen, Signed),
    VEXO_LAST_PROPERTY,
};
constexpr Property kValueRange[] = {
    VEXO_PREFIX2(ValueRange),
    VEXO_PROPERTY(ValueRange, "lowerLimit", lowerLimit, Real),
    VEXO_PROPERTY(ValueRange, "upperLimit", upperLimit, Real),
    VEXO_PROPERTY(ValueRange, "flags", flags, Unsigned),
    VEXO_LAST_PROPERTY,
};

// Members of groups: the root group keeps them in chunks of the large layout.
constexpr uint32_t kChildrenOffset = offsetof(ElementGroup, children);

#undef VEXO_TRIGGERING
#undef VEXO_PREFIX10
#undef VEXO_PREFIX9
#undef VEXO_PREFIX8
#undef VEXO_PREFIX5
#undef VEXO_PREFIX2
#undef VEXO_LAST_PROPERTY
#undef VEXO_RECORDS
#undef VEXO_NODES
#undef VEXO_PROPERTY
#pragma GCC diagnostic pop

struct ClassProperties {
    uint32_t code;
    const Property *table;
};

// Sorted by class code for the binary search; abstract classes have no entry.
// ORDER NODE_CLASS
constexpr ClassProperties kDirectory[] = {
    {ElementReference::kCode, kElementReference},
    {Vexo::kCode, kDatabase},
    {ElementGroup::kCode, kElementGroup},
    {DatabaseCollections::kCode, kDatabaseCollections},
    {Cluster::kCode, kCluster},
    {AbsolutelyScheduledTriggering::kCode, kAbsolutelyScheduledTriggering},
    {IdentifierBasedTriggering::kCode, kIdentifierBasedTriggering},
    {MaskedIdentifierTriggering::kCode, kMaskedIdentifierTriggering},
    {PDUTriggering::kCode, kPDUTriggering},
    {SignalInstance::kCode, kSignalInstance},
    {Signal::kCode, kSignal},
    {Coding::kCode, kCoding},
    {PDUInstance::kCode, kPDUInstance},
    {MultiplexedPart::kCode, kMultiplexedPart},
    {Channel::kCode, kChannel},
    {Frame::kCode, kFrame},
    {UnitSpec::kCode, kUnitSpec},
    {IdentityComputation::kCode, kIdentityComputation},
    {LinearComputation::kCode, kLinearComputation},
    {MappedTextComputation::kCode, kMappedTextComputation},
    {MappedValueComputation::kCode, kMappedValueComputation},
    {SignalPDU::kCode, kSignalPDU},
    {MultiplexedPDU::kCode, kMultiplexedPDU},
    {EventControlledTiming::kCode, kEventControlledTiming},
    {CyclicTiming::kCode, kCyclicTiming},
    {Segment::kCode, kSegment},
    {ValueRange::kCode, kValueRange},
};
constexpr uint32_t kDirectorySize = sizeof kDirectory / sizeof kDirectory[0];

// Every class that can have instances, from the class table itself.
constexpr uint32_t kInstantiableCodes[] = {
#define VEXO_CLASS(Name, Parent, index, end, tag, kind) \
    ClassKind::kind == ClassKind::Abstract ? 0u : Name::kCode,
#define VEXO_FIELD(Class, Type, name)
#define VEXO_END(Name)
#include "node_classes.def"
#undef VEXO_CLASS
#undef VEXO_FIELD
#undef VEXO_END
};

constexpr bool directoryCoversEveryClass()
{
    uint32_t covered = 0;
    for (uint32_t code : kInstantiableCodes) {
        if (code == 0)
            continue;
        bool found = false;
        for (const ClassProperties &entry : kDirectory)
            found = found || entry.code == code;
        if (!found)
            return false;
        ++covered;
    }
    return covered == kDirectorySize;
}

constexpr bool directoryIsSorted()
{
    for (uint32_t i = 1; i < kDirectorySize; ++i) {
        if (kDirectory[i - 1].code >= kDirectory[i].code)
            return false;
    }
    return true;
}
static_assert(kDirectorySize == 27, "one property table per class with instances");
static_assert(directoryIsSorted(), "the directory is searched by class code");
static_assert(directoryCoversEveryClass(), "every class with instances has a property table, and only those");

const Property *findTable(uint32_t code)
{
    uint32_t low = 0, count = kDirectorySize;
    while (count > 0) {
        const uint32_t half = count / 2, probe = low + half;
        const int32_t difference = static_cast<int32_t>(code - kDirectory[probe].code);
        if (difference == 0)
            return kDirectory[probe].table;
        if (difference > 0) {
            low = probe + 1;
            count = count - half - 1;
        } else {
            count = half;
        }
    }
    return nullptr;
}

template <class T>
T fieldAt(const void *node, uint32_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const unsigned char *>(node) + offset, sizeof value);
    return value;
}

// The layout of a node list field: the root group of a database keeps its members in
// chunks of the large layout, every other list in the small one.
const ChunkLayout &listLayout(const void *node, const Property &property)
{
    const auto *group = nodeAs<ElementGroup>(node);
    if (group == nullptr || property.offset != kChildrenOffset)
        return *property.layout;
    const Vexo *database = group != nullptr ? group->database : nullptr;
    const auto *collections = database != nullptr ? nodeExactly<DatabaseCollections>(database->reference) : nullptr;
    if (collections != nullptr && collections->identElements == group)
        return kLargeNodeLayout;
    return *property.layout;
}

// The property table of the node value at index 1, raising the error for a class
// without one. Null when the value holds no node.
const Property *tableOfArgument(lua_State *L, const void **node)
{
    *node = checkNode(L, 1, ObjectBase::kCode);
    if (*node == nullptr)
        return nullptr;
    const uint32_t code = codeOf(*node);
    const Property *table = findTable(code);
    if (table == nullptr)
        luaL_error(L, "Tried to index unknown node class (%p)", reinterpret_cast<void *>(uintptr_t{code}));
    return table;
}

void pushProperty(lua_State *L, const void *node, const Property &property);

// Upvalue 1 of the attribs closure: the table being walked and the position in it.
struct AttribsCursor {
    const Property *table;
    uint32_t position;
};

int iterateAttribs(lua_State *L)
{
    auto *cursor = static_cast<AttribsCursor *>(lua_touserdata(L, lua_upvalueindex(1)));
    const void *node = checkNode(L, 1, ObjectBase::kCode);
    if (node == nullptr || cursor->table == nullptr)
        return 0;
    // The positions belong to one class's table; another node would be read at the
    // wrong offsets.
    if (findTable(codeOf(node)) != cursor->table)
        luaL_argerror(L, 1, "node of another class than the one attribs was called on");
    const Property &property = cursor->table[cursor->position];
    if (property.name[0] == '\0')
        return 0;
    lua_pushstring(L, property.name);
    pushProperty(L, node, property);
    cursor->position += 1;
    return 2;
}

// Pushes the value of one property of a node: exactly one Lua value.
void pushProperty(lua_State *L, const void *node, const Property &property)
{
    const uint32_t offset = property.offset;
    switch (property.reader) {
    case Reader::None:
        lua_pushnil(L);
        break;
    case Reader::NodeType:
        lua_pushinteger(L, Vexo_getNodeType(static_cast<const VexoNode *>(node)));
        break;
    case Reader::ClassName:
        pushWideString(L, classNameWide(fieldAt<uint32_t>(node, offset)));
        break;
    case Reader::Text:
        pushWideString(L, fieldAt<const VexoChar *>(node, offset));
        break;
    case Reader::Slot:
        pushStringSlot(L, fieldAt<const VexoStringSlot *>(node, offset));
        break;
    case Reader::Link:
        pushNode(L, fieldAt<const void *>(node, offset));
        break;
    case Reader::Integer:
        lua_pushinteger(L, static_cast<int32_t>(fieldAt<uint32_t>(node, offset)));
        break;
    case Reader::Signed:
        lua_pushnumber(L, static_cast<int32_t>(fieldAt<uint32_t>(node, offset)));
        break;
    case Reader::Unsigned:
        pushUnsigned32(L, fieldAt<uint32_t>(node, offset));
        break;
    case Reader::Real:
        lua_pushnumber(L, fieldAt<double>(node, offset));
        break;
    case Reader::Wide:
        pushUnsignedValue(L, fieldAt<uint64_t>(node, offset));
        break;
    case Reader::Nodes: {
        const auto *list = reinterpret_cast<const NodeList *>(static_cast<const unsigned char *>(node) + offset);
        pushNodeListIterator(L, *list, listLayout(node, property));
        break;
    }
    case Reader::Records: {
        const auto *list = reinterpret_cast<const RecordList *>(static_cast<const unsigned char *>(node) + offset);
        pushRecordListIterator(L, *list, *property.layout);
        break;
    }
    }
}

}  // namespace

int indexProperty(lua_State *L)
{
    if (lua_getmetatable(L, 1)) {
        lua_pushvalue(L, 2);
        lua_rawget(L, -2);
        if (!lua_isnil(L, -1))
            return 1;
        lua_pop(L, 2);
    }
    const void *node = nullptr;
    const Property *table = tableOfArgument(L, &node);
    const int keyType = lua_type(L, 2);
    if (table == nullptr || (keyType != LUA_TSTRING && keyType != LUA_TNUMBER)) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushvalue(L, 2);
    const char *key = lua_tostring(L, -1);
    for (const Property *property = table; property->name[0] != '\0'; ++property) {
        if (std::strcmp(property->name, key) == 0) {
            pushProperty(L, node, *property);
            return 1;
        }
    }
    lua_pushnil(L);
    return 1;
}

int module_attribs(lua_State *L)
{
    const void *node = nullptr;
    const Property *table = tableOfArgument(L, &node);
    auto *cursor = static_cast<AttribsCursor *>(lua_newuserdata(L, sizeof(AttribsCursor)));
    cursor->table = table;
    cursor->position = 0;
    lua_pushcclosure(L, iterateAttribs, 1);
    lua_pushvalue(L, 1);
    lua_pushnil(L);
    return 3;
}

}  // namespace vexo::lua
