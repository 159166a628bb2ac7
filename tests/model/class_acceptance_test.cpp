// One table over every accessor, link, enumeration and creation function: each is called with a node
// of every class (abstract ones too, and the two record kinds), null, a garbage word, a
// forged class code and a string slot. Exactly the classes a row names may succeed; every
// other call must give the row's refusal code and leave every node as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "database.h"
#include "node_fields.h"
#include "test_db.h"
#include "vexo/enumerate.h"
#include "vexo/model.h"

using namespace vexo::core;

namespace {

using Accepts = std::function<bool(uint32_t code)>;

Accepts kindOf(uint32_t klass) { return [klass](uint32_t code) { return derivesFrom(code, klass); }; }
Accepts exactly(uint32_t klass) { return [klass](uint32_t code) { return code == klass; }; }
Accepts operator|(Accepts a, Accepts b) { return [a, b](uint32_t code) { return a(code) || b(code); }; }
Accepts except(Accepts a, uint32_t klass) { return [a, klass](uint32_t code) { return a(code) && code != klass; }; }

// A database holding one node of each class, with an identifier named after its class
// wherever the class has one, plus helper nodes used as the other arguments of a call.
struct Zoo {
    VexoNode *db = nullptr;
    Vexo *database = nullptr;
    DatabaseCollections *collections = nullptr;
    const void *byIndex[kClassCount + 1] = {};
    uint64_t garbage[32] = {0xDEADBEEF};
    uint64_t forged[32] = {AbsolutelyScheduledTriggering::kCode ^ 0x0100};  // right index, wrong tag
    VexoStringSlot *slot = nullptr;
    // Helpers, never a subject.
    VexoNode *channel, *frame, *signalPdu, *muxPdu, *part, *signal, *coding, *instance, *pduInstance, *triggering,
        *pduTriggering, *linear, *cluster, *ecu;

    Zoo()
    {
        EXPECT_EQ(Vexo_create(u"Zoo", &db), S_OK);
        database = databaseAs(db);
        EXPECT_EQ(collectionsOf(db, &collections), S_OK);
        for (uint32_t i = 1; i <= kClassCount; ++i) {
            const ClassInfo &info = kClassTable[i];
            if (info.code == Vexo::kCode) {
                byIndex[i] = database;
            } else if (info.code == DatabaseCollections::kCode) {
                byIndex[i] = collections;
                setElementId(database, collections, u"Collections");
            } else if (info.kind != ClassKind::Record) {
                ObjectBase *node = allocateNode(database, info.code);
                byIndex[i] = node;
                const std::u16string id(info.wideName != nullptr ? info.wideName : u"DatabaseResident");
                if (derivesFrom(info.code, ElementId::kCode)) {
                    EXPECT_EQ(setElementId(database, node, id.c_str()), S_OK);
                }
            }
        }
        auto *owner = allocateNode<MultiplexedPart>(database);
        auto *computation = allocateNode<LinearComputation>(database);
        EXPECT_EQ(Vexo_addSegment(nodeHandle(owner), 0, 0, 1), S_OK);
        EXPECT_EQ(Vexo_addRange(nodeHandle(computation), 0, 1, 0), S_OK);
        byIndex[classIndex(Segment::kCode)] = chunkRecords(firstChunk(owner->segments.chunks));
        byIndex[classIndex(ValueRange::kCode)] = chunkRecords(firstChunk(computation->ranges.chunks));

        EXPECT_EQ(Vexo_stringCreateSlot(db, 0x409, u"slot", &slot), S_OK);

        const std::pair<VexoNode **, uint32_t> made[] = {
            {&channel, Channel::kCode}, {&frame, Frame::kCode}, {&signalPdu, SignalPDU::kCode},
            {&muxPdu, MultiplexedPDU::kCode}, {&part, MultiplexedPart::kCode}, {&signal, Signal::kCode},
            {&coding, Coding::kCode}, {&instance, SignalInstance::kCode}, {&pduInstance, PDUInstance::kCode},
            {&triggering, IdentifierBasedTriggering::kCode}, {&pduTriggering, PDUTriggering::kCode},
            {&linear, LinearComputation::kCode}, {&cluster, Cluster::kCode}, {&ecu, ElementGroup::kCode}};
        for (const auto &[field, code] : made)
            helpers.push_back(*field = identified(code, u"h", helpers.size()));
    }
    ~Zoo() { Vexo_destroy(db); }
    Zoo(const Zoo &) = delete;
    Zoo &operator=(const Zoo &) = delete;

    VexoNode *identified(uint32_t code, const char16_t *prefix, size_t n)
    {
        ObjectBase *node = allocateNode(database, code);
        EXPECT_EQ(setElementId(database, node, numbered(prefix, int(n)).c_str()), S_OK);
        return nodeHandle(node);
    }
    // A new identified node, for calls that must not meet a node listed by an earlier one.
    VexoNode *freshNode(uint32_t code) { return identified(code, u"fresh", freshCount++); }
    VexoNode *fresh = nullptr;
    int freshCount = 0;

    struct Column { std::string name; VexoNode *node; uint32_t code; /* 0 for the foreign columns */ };
    std::vector<Column> columns()
    {
        std::vector<Column> out;
        for (uint32_t i = 1; i <= kClassCount; ++i) {
            const char *name = kClassTable[i].name != nullptr ? kClassTable[i].name : "DatabaseResident";
            out.push_back({name, nodeHandle(byIndex[i]), kClassTable[i].code});
        }
        out.insert(out.end(), {{"null", nullptr, 0}, {"garbage word", nodeHandle(garbage), 0},
                               {"forged class code", nodeHandle(forged), 0}, {"string slot", nodeHandle(slot), 0}});
        return out;
    }

    // The bytes of every node (columns, helpers, the database's groups) and the entry
    // count of every list they hold: any change a refused call makes shows here.
    std::vector<uint32_t> fingerprint() const
    {
        std::vector<const void *> nodes(std::begin(byIndex) + 1, std::end(byIndex));
        nodes.insert(nodes.end(), helpers.begin(), helpers.end());
        nodes.insert(nodes.end(), {collections->identElements, collections->clusters, collections->ECUs,
                                   collections->PDUs, collections->frames, collections->signals, collections->codings,
                                   collections->views});
        std::vector<uint32_t> out;
        for (const void *node : nodes) {
            const uint32_t code = codeOf(node);
            const auto *bytes = static_cast<const unsigned char *>(node);
            out.insert(out.end(), bytes, bytes + kClassTable[classIndex(code)].size);
            for (uint32_t f = 0; f < kFieldCount; ++f) {
                const FieldInfo &field = kFieldTable[f];
                if (!derivesFrom(code, field.classCode))
                    continue;
                if (field.kind == FieldKind::Nodes)
                    out.push_back(count(reinterpret_cast<const NodeList *>(bytes + field.offset)));
                else if (field.kind == FieldKind::Records)
                    out.push_back(count(reinterpret_cast<const RecordList *>(bytes + field.offset)));
            }
        }
        return out;
    }

    std::vector<const void *> helpers;
};

bool listed(const NodeList &list, const void *node)
{
    const std::vector<void *> all = entries(list);
    return std::find(all.begin(), all.end(), node) != all.end();
}

// wrote: the call's output or effect is visible. Left empty, the harness reads it as "some node or list changed".
struct Outcome { HRESULT hr; int wrote = -1; };

struct Row {
    std::string name;
    Accepts accepts;
    HRESULT refused;  // for other classes and the foreign handles
    HRESULT onNull;   // for a null subject
    std::function<Outcome(Zoo &, VexoNode *subject)> call;
    std::function<void(Zoo &)> prepare = nullptr;  // runs before the state is recorded
    bool nullAccepted = false;                      // null is a valid subject (clears a link)
};

// A value no call writes, put in an out variable to see whether anything was written.
const unsigned char kSentinelByte = 0;
template <class V>
V sentinel()
{
    if constexpr (std::is_same_v<V, double>)
        return -7.25e300;
    else if constexpr (std::is_same_v<V, VexoNode *>)
        return nodeHandle(&kSentinelByte);
    else if constexpr (std::is_same_v<V, const VexoChar *>)
        return u"sentinel";
    else
        return V(0xA5A5A5A5A5A5A5A5ull);
}

template <class V>
bool differs(const V &value) { const V s = sentinel<V>(); return std::memcmp(&value, &s, sizeof s) != 0; }

template <class V>
Row getter(std::string name, HRESULT (*fn)(const VexoNode *, V *), Accepts accepts)
{
    return {std::move(name), std::move(accepts), E_INVALIDARG, E_INVALIDARG, [fn](Zoo &, VexoNode *subject) {
                EXPECT_EQ(fn(subject, nullptr), E_INVALIDARG) << "null out pointer";
                V out = sentinel<V>();
                const HRESULT hr = fn(subject, &out);
                return Outcome{hr, differs(out)};
            }};
}

using TextGetter = HRESULT (*)(VexoNode *, const VexoNode *, uint32_t, uint32_t, const VexoChar **);
using TextSetter = HRESULT (*)(VexoNode *, VexoNode *, uint32_t, const VexoChar *);

// Rows of one function in pairs: the row named after it, and a second row with its other node argument as
// subject (the database of a text function, the entry of an adder).
struct Rows : std::vector<Row> {
    Rows(Row row) : std::vector<Row>{std::move(row)} {}
    Rows(Row first, Row second) : std::vector<Row>{std::move(first), std::move(second)} {}
};

// Text functions with the node as subject. Every one takes its database and node through one
// check, whose database side the setShortName and setElementDetail rows show.
Row textGetter(const std::string &name, TextGetter fn, Accepts accepts)
{
    return {name, std::move(accepts), E_INVALIDARG, E_INVALIDARG, [fn](Zoo &zoo, VexoNode *subject) {
                EXPECT_EQ(fn(zoo.db, subject, 0x409, 0x407, nullptr), E_INVALIDARG) << "null out pointer";
                const VexoChar *out = sentinel<const VexoChar *>();
                const HRESULT hr = fn(zoo.db, subject, 0x409, 0x407, &out);
                return Outcome{hr, differs(out)};
            }};
}

Row textSetter(const std::string &name, TextSetter fn, Accepts accepts)
{
    return {name, std::move(accepts), E_INVALIDARG, E_INVALIDARG,
            [fn](Zoo &zoo, VexoNode *subject) { return Outcome{fn(zoo.db, subject, 0x409, u"text")}; }};
}

using Adder = HRESULT (*)(VexoNode *, uint32_t, VexoNode *const *);

// A relation adder with the owner as subject and one good entry, then with a good owner and the subject as
// its one entry: entries of other classes are skipped silently, so every call answers S_OK and only accepted
// entries are listed.
Rows relation(const std::string &name, Adder fn, Accepts owners, VexoNode *Zoo::*entry, Accepts entries,
              VexoNode *Zoo::*owner)
{
    return {{name, std::move(owners), E_INVALIDARG, E_INVALIDARG,
             [fn, entry](Zoo &zoo, VexoNode *s) { return Outcome{fn(s, 1, &(zoo.*entry))}; }},
            {name + "(entry)", std::move(entries), S_OK, S_OK,
             [fn, owner](Zoo &zoo, VexoNode *s) { return Outcome{fn(zoo.*owner, 1, &s)}; }}};
}

// Default groups: the subject as first argument (database or collections node), offered a fresh identified
// node of the class the group takes; then the subject as the entry.
Rows defaultGroup(const std::string &name, Adder fn, ElementGroup *DatabaseCollections::*group, uint32_t entryCode,
                  Accepts entries)
{
    return {{name, exactly(Vexo::kCode) | exactly(DatabaseCollections::kCode), E_INVALIDARG, E_POINTER,
             [fn, group](Zoo &zoo, VexoNode *s) {
                 const HRESULT hr = fn(s, 1, &zoo.fresh);
                 return Outcome{hr, listed((zoo.collections->*group)->children, zoo.fresh)};
             },
             [entryCode](Zoo &zoo) { zoo.fresh = zoo.freshNode(entryCode); }},
            {name + "(entry)", std::move(entries), S_OK, S_OK, [fn, group](Zoo &zoo, VexoNode *s) {
                 const HRESULT hr = fn(zoo.db, 1, &s);
                 return Outcome{hr, s != nullptr && listed((zoo.collections->*group)->children, s)};
             }}};
}

// Creation with the subject as database and every node argument null. A null out
// pointer is refused first, whatever the database (createECU has its own order, tested
// with the creation tests); a created node is of the class the function is named after.
Row creation(std::string name, std::function<HRESULT(VexoNode *, VexoNode **)> fn, HRESULT onNull = E_INVALIDARG)
{
    const std::string klass = name == "createECU" ? "ElementGroup" : name.substr(6);
    return {std::move(name), exactly(Vexo::kCode), E_INVALIDARG, onNull, [fn, klass](Zoo &zoo, VexoNode *s) {
                if (klass != "ElementGroup") {  // createECU looks at its database first
                    EXPECT_EQ(fn(s, nullptr), E_POINTER) << "null out pointer";
                }
                VexoNode *out = sentinel<VexoNode *>();
                const HRESULT hr = fn(s, &out);
                if (differs(out)) {
                    EXPECT_STREQ(className(codeOf(out)), klass.c_str());
                    EXPECT_TRUE(databaseOf(out) == nullptr || databaseOf(out) == zoo.database);
                }
                return Outcome{hr, differs(out)};
            }};
}

using EnumFn = HRESULT (*)(VexoNode *, VexoEnumerator **);

// An enumeration of the subject's list; the enumerator made is destroyed again.
Row enumRow(std::string name, EnumFn fn, Accepts accepts, HRESULT onNull = E_INVALIDARG)
{
    return {std::move(name), std::move(accepts), E_INVALIDARG, onNull, [fn](Zoo &, VexoNode *subject) {
                VexoEnumerator *e = nullptr;
                const HRESULT hr = fn(subject, &e);
                EXPECT_TRUE(e == nullptr || Vexo_enumeratorDestroy(e) == S_OK);
                return Outcome{hr, e != nullptr};
            }};
}

#define GET(fn, accepts) getter(#fn, Vexo_##fn, accepts)
#define ENUM(fn, ...) enumRow(#fn, Vexo_##fn, __VA_ARGS__)
// A row whose call refuses other classes and null with E_INVALIDARG; expr may use zoo and s.
#define CALL(name, accepts, expr) \
    Row{name, accepts, E_INVALIDARG, E_INVALIDARG, []([[maybe_unused]] Zoo &zoo, VexoNode *s) { return Outcome{expr}; }}
// The row of Vexo_<fn>, called with the subject as database, these arguments and an out pointer.
#define CREATION(fn, ...) creation(#fn, [](VexoNode *d, VexoNode **o) { return Vexo_##fn(d, __VA_ARGS__, o); })

std::vector<Row> rows()
{
    const Accepts elementId = kindOf(ElementId::kCode), detail = kindOf(ElementDetail::kCode);
    const Accepts triggering = kindOf(FrameTriggering::kCode), pdu = kindOf(PDU::kCode);
    const Accepts segment = exactly(Segment::kCode), range = exactly(ValueRange::kCode);
    const Accepts signal = exactly(Signal::kCode), coding = exactly(Coding::kCode);
    const Accepts ast = exactly(AbsolutelyScheduledTriggering::kCode), mux = exactly(MultiplexedPDU::kCode);
    const Accepts mit = exactly(MaskedIdentifierTriggering::kCode), part = exactly(MultiplexedPart::kCode);
    const Accepts signalInstance = exactly(SignalInstance::kCode), pduInstance = exactly(PDUInstance::kCode);
    const Accepts channel = exactly(Channel::kCode), frame = exactly(Frame::kCode);
    const Accepts instance = pduInstance | signalInstance;
    const Accepts group = kindOf(ElementGroup::kCode), unit = exactly(UnitSpec::kCode);
    const Accepts database = exactly(Vexo::kCode) | exactly(DatabaseCollections::kCode);
    using DC = DatabaseCollections;

    const Rows table[] = {
        GET(getElementId, elementId), GET(getGroup, elementId), GET(getParam, elementId),
        GET(getParent, kindOf(ElementChild::kCode)), GET(getReference, kindOf(ElementReference::kCode)),
        GET(getUnit, kindOf(ElementReference::kCode) | unit), GET(getClusterType, exactly(Cluster::kCode)),
        GET(getChannel, triggering), GET(getFrame, triggering), GET(getSourceECU, triggering), GET(getSlotId, ast),
        GET(getCycleOffset, ast), GET(getIdentifier, exactly(IdentifierBasedTriggering::kCode)), GET(getLength, frame),
        GET(getIdentifierCode, mit), GET(getIdentifierMask, mit), GET(getFlags, triggering | signal | range),
        GET(getRepetition, ast), GET(getBitLength, pdu | coding | segment), GET(getUnusedBytePattern, pdu),
        GET(getBitPosition, instance | segment), GET(getUpdateBitPosition, instance), GET(getDefaultValue, signal),
        GET(getByteOrder, instance | segment), GET(getMinValue, signal), GET(getMaxValue, signal),
        GET(getScale, exactly(LinearComputation::kCode)), GET(getOffset, exactly(LinearComputation::kCode)),
        GET(getEncoding, coding), GET(getValue, exactly(MappedValueComputation::kCode)), GET(getLowerLimit, range),
        GET(getUpperLimit, range), GET(getDebounceTime, exactly(EventControlledTiming::kCode)),
        GET(getCycletime, exactly(CyclicTiming::kCode)), GET(getSwitchCode, part), GET(getSwitchByteOrder, mux),
        GET(getSwitchPosition, mux), GET(getSwitchLength, mux), GET(getDefaultSwitchCode, mux), GET(getStaticPart, mux),
        GET(getElsePart, mux), CALL("setParam", elementId, Vexo_setParam(s, 0x5A5A)),
        CALL("setClusterType", exactly(Cluster::kCode), Vexo_setClusterType(s, 77)),

        // Names and texts; the short name and the element detail (its description read alongside) as text getters.
        textGetter("getLongName", Vexo_getLongName, detail), textGetter("getDescription", Vexo_getDescription, detail),
        textGetter("getDisplayName", Vexo_getDisplayName, unit),
        textGetter("getTextValue", Vexo_getTextValue, exactly(MappedTextComputation::kCode)),
        textSetter("setLongName", Vexo_setLongName, detail), textSetter("setDescription", Vexo_setDescription, detail),
        textSetter("setDisplayName", Vexo_setDisplayName, unit),
        textGetter("getShortName", [](VexoNode *db, const VexoNode *node, uint32_t, uint32_t, const VexoChar **out) {
            return Vexo_getShortName(db, node, out);
        }, detail),
        CALL("setShortName", detail, Vexo_setShortName(zoo.db, s, u"short")),
        CALL("setShortName(database)", exactly(Vexo::kCode), Vexo_setShortName(s, zoo.frame, u"short")),
        textGetter("getElementDetail", [](VexoNode *d, const VexoNode *n, uint32_t l, uint32_t f, const VexoChar **o) {
            const VexoChar *text = nullptr;
            return Vexo_getElementDetail(d, n, l, f, o, o != nullptr ? &text : nullptr);
        }, detail),
        CALL("setElementDetail", detail, Vexo_setElementDetail(zoo.db, s, 0x409, u"long", u"text")),
        CALL("setElementDetail(database)", exactly(Vexo::kCode),
             Vexo_setElementDetail(s, zoo.frame, 0x409, u"long", u"d")),

        CALL("setParent(node)", kindOf(ElementChild::kCode), Vexo_setParent(s, zoo.frame)),
        CALL("setParent(parent)", elementId, Vexo_setParent(zoo.channel, s)),
        CALL("setReference(node)", except(kindOf(ElementReference::kCode), Vexo::kCode),
             Vexo_setReference(s, zoo.frame)),
        CALL("setReference(reference)", elementId, Vexo_setReference(zoo.instance, s)),
        CALL("setChannel(triggering)", triggering, Vexo_setChannel(s, zoo.channel)),
        Row{"setChannel(channel)", channel, E_FAIL, S_OK,
         [](Zoo &zoo, VexoNode *s) { return Outcome{Vexo_setChannel(zoo.triggering, s)}; },
         [](Zoo &zoo) { as<FrameTriggering>(zoo.triggering)->parent = as<ObjectBase>(zoo.channel); }, true},
        CALL("setFrame(triggering)", triggering, Vexo_setFrame(s, zoo.frame)),
        Row{"setFrame(frame)", frame, E_FAIL, S_OK,
         [](Zoo &zoo, VexoNode *s) { return Outcome{Vexo_setFrame(zoo.triggering, s)}; },
         [](Zoo &zoo) { as<FrameTriggering>(zoo.triggering)->reference = as<ObjectBase>(zoo.channel); }, true},
        CALL("setSourceECU(triggering)", triggering, Vexo_setSourceECU(s, zoo.ecu)),
        Row{"setSourceECU(ecu)", group, E_FAIL, S_OK,
         [](Zoo &zoo, VexoNode *s) { return Outcome{Vexo_setSourceECU(zoo.triggering, s)}; },
         [](Zoo &zoo) { as<FrameTriggering>(zoo.triggering)->sourceEcu = as<ElementGroup>(zoo.cluster); }, true},
        CALL("setStaticPart(pdu)", mux, Vexo_setStaticPart(s, zoo.part)),
        CALL("setStaticPart(part)", part, Vexo_setStaticPart(zoo.muxPdu, s)),
        CALL("setElsePart(pdu)", mux, Vexo_setElsePart(s, zoo.part)),
        CALL("setElsePart(part)", part, Vexo_setElsePart(zoo.muxPdu, s)),
        CALL("setSignal(instance)", signalInstance, Vexo_setSignal(s, zoo.signal)),

        defaultGroup("addClusters", Vexo_addClusters, &DC::clusters, Cluster::kCode, exactly(Cluster::kCode)),
        defaultGroup("addECUs", Vexo_addECUs, &DC::ECUs, ElementGroup::kCode, group),
        defaultGroup("addFrames", Vexo_addFrames, &DC::frames, Frame::kCode, frame),
        defaultGroup("addPDUs", Vexo_addPDUs, &DC::PDUs, SignalPDU::kCode, pdu),
        defaultGroup("addSignals", Vexo_addSignals, &DC::signals, Signal::kCode, signal),
        defaultGroup("addCodings", Vexo_addCodings, &DC::codings, Coding::kCode, coding),
        defaultGroup("addViews", Vexo_addViews, &DC::views, ElementGroup::kCode, group),

        relation("addFrameTriggerings", Vexo_addFrameTriggerings, channel | frame, &Zoo::triggering, triggering,
                 &Zoo::channel),
        relation("addPDUTriggerings", Vexo_addPDUTriggerings, channel | pdu, &Zoo::pduTriggering,
                 exactly(PDUTriggering::kCode), &Zoo::signalPdu),
        relation("addPDUInstances", Vexo_addPDUInstances, frame | channel, &Zoo::pduInstance, pduInstance, &Zoo::frame),
        relation("addSignalInstances", Vexo_addSignalInstances, exactly(SignalPDU::kCode) | signal, &Zoo::instance,
                 signalInstance, &Zoo::signalPdu),
        relation("addInternalToPhysicalComputations", Vexo_addInternalToPhysicalComputations, coding, &Zoo::linear,
                 kindOf(Computation::kCode), &Zoo::coding),
        relation("addPhysicalToInternalComputations", Vexo_addPhysicalToInternalComputations, coding, &Zoo::linear,
                 kindOf(Computation::kCode), &Zoo::coding),
        relation("addParents", Vexo_addParents, pdu, &Zoo::pduInstance, pduInstance | part, &Zoo::muxPdu),
        relation("addDynamicParts", Vexo_addDynamicParts, mux, &Zoo::part, part, &Zoo::muxPdu),
        CALL("addSegment", part, Vexo_addSegment(s, 1, 2, 3)),
        CALL("addRange", kindOf(Computation::kCode), Vexo_addRange(s, 0, 1, 3)),

        ENUM(enumIdentElements, database, E_POINTER), ENUM(enumClusters, database, E_POINTER),
        ENUM(enumECUs, database, E_POINTER), ENUM(enumPDUs, database, E_POINTER), ENUM(enumFrames, database, E_POINTER),
        ENUM(enumSignals, database, E_POINTER), ENUM(enumCodings, database, E_POINTER),
        ENUM(enumViews, database, E_POINTER), ENUM(enumChildren, group), ENUM(enumFrameTriggerings, channel | frame),
        ENUM(enumPDUTriggerings, channel | pdu), ENUM(enumPDUInstances, frame | channel),
        ENUM(enumSignalInstances, exactly(SignalPDU::kCode) | signal), ENUM(enumParents, pdu),
        ENUM(enumDynamicParts, mux), ENUM(enumInternalToPhysicalComputations, coding),
        ENUM(enumPhysicalToInternalComputations, coding), ENUM(enumSegments, part),
        ENUM(enumRanges, kindOf(Computation::kCode)),

        CREATION(createCluster, u"c", 1), CREATION(createChannel, u"c", nullptr), CREATION(createFrame, u"c", 8),
        CREATION(createAbsolutelyScheduledTriggering, u"c", 1, 2, 3, 4, nullptr, nullptr, nullptr),
        CREATION(createIdentifierBasedTriggering, u"c", 1, 2, nullptr, nullptr, nullptr),
        CREATION(createMaskedIdentifierTriggering, u"c", 1, 2, 3, nullptr, nullptr, nullptr),
        CREATION(createPDUTriggering, u"c", nullptr, nullptr), CREATION(createSignalPDU, u"c", 64, nullptr),
        CREATION(createMultiplexedPDU, u"c", 64, 0, 0, 8, 0, nullptr), CREATION(createIdentityComputation, u"c"),
        CREATION(createPDUInstance, u"c", 0, 0, 0, nullptr, nullptr), CREATION(createMultiplexedPart, u"c", 1, nullptr),
        CREATION(createSignal, u"c", 0, 0, 0, 1, nullptr), CREATION(createUnitSpec, u"c", 1, u"m"),
        CREATION(createSignalInstance, u"c", 0, 0, 0, nullptr, nullptr), CREATION(createCoding, u"c", 8, 1, nullptr),
        CREATION(createLinearComputation, u"c", 1, 0), CREATION(createMappedValueComputation, u"c", 1),
        CREATION(createMappedTextComputation, u"c", nullptr), CREATION(createElementReference, u"c", nullptr),
        creation("createECU", [](VexoNode *d, VexoNode **o) { return Vexo_createECU(d, u"c", o); }, E_POINTER),
        CREATION(createEventControlledTiming, 5, nullptr), CREATION(createCyclicTiming, 100, nullptr),
    };
    std::vector<Row> r;
    for (const Rows &rows : table)
        r.insert(r.end(), rows.begin(), rows.end());
    return r;
}

}  // namespace

TEST(ClassAcceptance, ExactlyTheNamedClassesSucceed)
{
    const std::vector<Row> table = rows();
    for (const Row &row : table) {
        Zoo zoo;
        for (const Zoo::Column &column : zoo.columns()) {
            SCOPED_TRACE(row.name + " with " + column.name);
            if (row.prepare)
                row.prepare(zoo);
            const std::vector<uint32_t> before = zoo.fingerprint();
            const Outcome outcome = row.call(zoo, column.node);
            const bool changed = zoo.fingerprint() != before, wrote = outcome.wrote >= 0 ? outcome.wrote != 0 : changed;
            const bool accepted =
                column.node == nullptr ? row.nullAccepted : column.code != 0 && row.accepts(column.code);
            if (accepted) {
                if (column.node == nullptr)
                    EXPECT_EQ(outcome.hr, row.onNull);
                else
                    EXPECT_GE(outcome.hr, 0) << std::hex << outcome.hr;
                EXPECT_TRUE(wrote) << "no output or effect";
            } else {
                EXPECT_EQ(outcome.hr, column.node == nullptr ? row.onNull : row.refused) << std::hex << outcome.hr;
                EXPECT_FALSE(wrote) << "output written on refusal";
                EXPECT_FALSE(changed) << "a node or list changed on refusal";
            }
        }
    }
}
