// Links: default groups in identifier order, relation lists that keep every append, dynamic parts by switch code,
// single links and their independence from the lists, and refusal of links and texts across databases (records: the
// enumerator's walk). Lists are read through core cursors.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "made.h"
#include "test_db.h"
#include "test_text.h"
#include "vexo/model.h"

using namespace vexo::core;

namespace {

struct Db : TestDb {
    VexoNode *frame(const VexoChar *id) { return made(Vexo_createFrame, handle, id, 8u); }
    VexoNode *part(const VexoChar *id, uint32_t c) { return made(Vexo_createMultiplexedPart, handle, id, c, nullptr); }
    VexoNode *channel(const VexoChar *id) { return made(Vexo_createChannel, handle, id, nullptr); }
    VexoNode *mux() { return made(Vexo_createMultiplexedPDU, handle, u"M", 64u, 0u, 0u, 8u, 0u, nullptr); }
};

using Adder = HRESULT (*)(VexoNode *, uint32_t, VexoNode *const *);

// The segment record of a new part of the database.
VexoNode *newSegment(VexoNode *db)
{
    VexoNode *part = made(Vexo_createMultiplexedPart, db, u"P", 1u, nullptr);
    EXPECT_EQ(Vexo_addSegment(part, 0, 0, 8), S_OK);
    return nodeHandle(chunkRecords(firstChunk(as<MultiplexedPart>(part)->segments.chunks)));
}

}  // namespace

// All seven default-group adders share one function, which hands each node to core's ordered
// insert (its skips and chunk splits: the database and node-list tests); which group and class
// each adder takes is the class-acceptance table's.
TEST(Links, DefaultGroupsAndDynamicPartsKeepTheirOrderAndOneEntryPerKey)
{
    Db db;
    auto make = [&](const VexoChar *id) { return nodeHandle(db.make<Frame>(id)); };
    VexoNode *b = make(u"B"), *a = make(u"A"), *twin = make(u"B"), *anonymous = make(nullptr);
    VexoNode *nodes[] = {make(u"C"), b, nullptr, twin, anonymous};
    ASSERT_EQ(Vexo_addFrames(db.handle, 5, nodes), S_OK);
    // The collections node is taken like the database.
    EXPECT_EQ(Vexo_addFrames(reinterpret_cast<VexoNode *>(db.collections()), 1, &a), S_OK);
    ElementGroup *group = db.collections()->frames;
    EXPECT_EQ(idsOf(group->children), (std::vector<std::u16string>{u"A", u"B", u"C"}));
    for (void *entry : entries(group->children))
        EXPECT_EQ(nodeAs<ElementId>(entry)->group, group);
    EXPECT_EQ(as<ElementId>(twin)->group, nullptr);
    EXPECT_EQ(as<ElementId>(anonymous)->group, nullptr);
    EXPECT_EQ(Vexo_addFrames(db.handle, 0, nullptr), E_POINTER);

    // The switch-code order over an ordered insert; its chunk splits are the node list's tests.
    struct Case { const char *what; std::vector<uint32_t> codes /* offered in this order */, want /* listed */; };
    const Case cases[] = {
        {"scrambled", {9, 2, 5}, {2, 5, 9}}, {"same code twice", {5, 5}, {5}},
        {"codes compared as signed differences", {1, 0xFFFFFFFFu, 0x7FFFFFFFu}, {0xFFFFFFFFu, 1, 0x7FFFFFFFu}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VexoNode *pdu = db.mux();
        std::vector<VexoNode *> parts;
        for (uint32_t code : c.codes)
            parts.push_back(db.part(nullptr, code));
        ASSERT_EQ(Vexo_addDynamicParts(pdu, uint32_t(parts.size()), parts.data()), S_OK);
        std::vector<uint32_t> listed;
        for (void *entry : entries(as<MultiplexedPDU>(pdu)->dynamicParts))
            listed.push_back(nodeAs<MultiplexedPart>(entry)->switchCode);
        EXPECT_EQ(listed, c.want);
        // Exactly the listed parts have the PDU as parent; a skipped twin keeps none.
        size_t parented = 0;
        for (VexoNode *part : parts)
            parented += as<MultiplexedPart>(part)->parent == as<ObjectBase>(pdu);
        EXPECT_EQ(parented, c.want.size());
        EXPECT_TRUE(c.codes.size() != 2 || as<MultiplexedPart>(parts[1])->parent == nullptr) << "the twin";
    }
}

TEST(Links, SingleLinksChangeNoListButSetSignalAndRelationListsDo)
{
    Db db;
    VexoNode *a = db.channel(u"A"), *b = db.channel(u"B"), *frame = db.frame(u"F");
    VexoNode *triggering = made(Vexo_createIdentifierBasedTriggering, db.handle, u"T", 0x100u, 0u, nullptr, nullptr, a);

    EXPECT_EQ(Vexo_setChannel(triggering, b), S_OK);
    EXPECT_EQ(as<FrameTriggering>(triggering)->parent, as<ObjectBase>(b));
    EXPECT_EQ(entries(as<Channel>(a)->frameTriggerings), std::vector<void *>{triggering});
    EXPECT_TRUE(entries(as<Channel>(b)->frameTriggerings).empty());
    EXPECT_EQ(Vexo_setChannel(triggering, nullptr), S_OK);
    EXPECT_EQ(as<FrameTriggering>(triggering)->parent, nullptr);

    EXPECT_EQ(Vexo_setParent(b, frame), S_OK);
    EXPECT_TRUE(entries(as<Frame>(frame)->PDUInstances).empty());

    // setSignal references any element but lists only in signals and signal PDUs.
    VexoNode *signal = made(Vexo_createSignal, db.handle, u"S", 0u, 0.0, 0.0, 1.0, nullptr);
    VexoNode *pdu = made(Vexo_createSignalPDU, db.handle, u"P", 64u, nullptr);
    VexoNode *instance = made(Vexo_createSignalInstance, db.handle, u"I", 0u, 0u, 0u, nullptr, nullptr);
    struct Case { const char *what; VexoNode *target; HRESULT want; const NodeList *list /* where it appears */; };
    const Case cases[] = {
        {"signal", signal, S_OK, &as<Signal>(signal)->signalInstances},
        {"signal PDU (listed there, which makes it the parent)", pdu, S_OK, &as<SignalPDU>(pdu)->signalInstances},
        {"frame: referenced, but no list takes it", frame, E_INVALIDARG, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Vexo_setSignal(instance, c.target), c.want);
        EXPECT_EQ(as<SignalInstance>(instance)->reference, as<ObjectBase>(c.target));
        if (c.list != nullptr) {
            EXPECT_EQ(entries(*c.list), std::vector<void *>{instance});
        }
    }
    EXPECT_EQ(as<SignalInstance>(instance)->parent, as<ObjectBase>(pdu));

    enum Link { kNone, kParent, kReference };
    struct Relation { std::string what; Adder add; uint32_t ownerCode, entryCode; size_t listOffset; Link link; };
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#define ROW(add, Owner, Entry, list, link) \
    {#add " to a " #Owner, Vexo_##add, Owner::kCode, Entry::kCode, offsetof(Owner, list), link}
    const Relation relations[] = {
        ROW(addFrameTriggerings, Channel, MaskedIdentifierTriggering, frameTriggerings, kParent),
        ROW(addFrameTriggerings, Frame, AbsolutelyScheduledTriggering, frameTriggerings, kReference),
        ROW(addPDUTriggerings, Channel, PDUTriggering, PDUTriggerings, kParent),
        ROW(addPDUTriggerings, MultiplexedPDU, PDUTriggering, triggerings, kReference),
        ROW(addPDUInstances, Frame, PDUInstance, PDUInstances, kParent),
        ROW(addPDUInstances, Channel, PDUInstance, PDUInstances, kParent),
        ROW(addSignalInstances, SignalPDU, SignalInstance, signalInstances, kParent),
        ROW(addSignalInstances, Signal, SignalInstance, signalInstances, kReference),
        ROW(addInternalToPhysicalComputations, Coding, MappedTextComputation, internalToPhysicalCompus, kNone),
        ROW(addPhysicalToInternalComputations, Coding, LinearComputation, physicalToInternalCompus, kNone),
        ROW(addParents, SignalPDU, MultiplexedPart, parents, kNone),
    };
#undef ROW
#pragma GCC diagnostic pop
    for (const Relation &c : relations) {
        SCOPED_TRACE(c.what);
        Db own;
        Vexo *database = databaseAs(own.handle);
        auto *owner = reinterpret_cast<VexoNode *>(allocateNode(database, c.ownerCode));
        const auto &list = *reinterpret_cast<const NodeList *>(reinterpret_cast<char *>(owner) + c.listOffset);
        std::vector<VexoNode *> taken;
        for (int i = 0; i < 8; ++i)
            taken.push_back(reinterpret_cast<VexoNode *>(allocateNode(database, c.entryCode)));
        VexoNode *const other = own.frame(u"Other");  // a class no relation list takes from a frame
        std::vector<VexoNode *> array = {taken[0], nullptr, other, taken[1]};
        array.insert(array.end(), taken.begin() + 2, taken.end());
        array.push_back(taken[0]);
        ASSERT_EQ(c.add(owner, uint32_t(array.size()), array.data()), S_OK);
        std::vector<void *> want(taken.begin(), taken.end());
        want.push_back(taken[0]);  // duplicates stay, in array order; 9 entries span two chunks
        EXPECT_EQ(entries(list), want);
        for (VexoNode *node : taken) {
            const ObjectBase *parent = nodeAs<ElementChild>(node) ? as<ElementChild>(node)->parent : nullptr;
            const ObjectBase *reference =
                nodeAs<ElementReference>(node) ? as<ElementReference>(node)->reference : nullptr;
            EXPECT_EQ(parent, c.link == kParent ? as<ObjectBase>(owner) : nullptr);
            EXPECT_EQ(reference, c.link == kReference ? as<ObjectBase>(owner) : nullptr);
        }
        EXPECT_EQ(c.add(owner, 0, nullptr), E_POINTER);
        EXPECT_EQ(c.add(owner, 0, array.data()), S_OK);
        EXPECT_EQ(entries(list).size(), want.size());
    }
}

// Each call is handed something of a second database, which is then destroyed; the kept
// database is walked afterwards (under AddressSanitizer a kept pointer would be a
// use after free). Timings, records and slots carry no database field of their own.
TEST(Links, NodesOfAnotherDatabaseAreNeverLinkedNamedNorKeptReachable)
{
    struct Other { VexoNode *db, *group, *frame, *timing, *segment; VexoStringSlot *slot; };
    VexoNode *out = nullptr;
    const VexoChar *found = nullptr;
    // A call given the kept database, a group of it and the items of the other database.
    using Call = std::function<HRESULT(VexoNode *, VexoNode *, const Other &)>;
    struct Case { const char *what; Call call; HRESULT want; };
#define OTHER(call, want) \
    Case{#call, [&](VexoNode *db, VexoNode *group, const Other &o) { return (void)db, (void)group, call; }, want}
    const Case cases[] = {
        OTHER(Vexo_insertChildren(group, 1, &o.frame), S_OK), OTHER(Vexo_insertChildren(group, 1, &o.timing), S_OK),
        OTHER(Vexo_appendChildren(group, 1, &o.timing), S_OK), OTHER(Vexo_appendChildren(group, 1, &o.segment), S_OK),
        OTHER(Vexo_createElementGroup(db, u"G2", nullptr, o.frame, &out), E_INVALIDARG),
        OTHER(Vexo_createElementGroup(db, u"G2", o.group, nullptr, &out), E_INVALIDARG),
        OTHER(Vexo_createCyclicTiming(db, 10, o.group, &out), E_INVALIDARG),
        OTHER(Vexo_createMappedTextComputation(db, u"M", o.slot, &out), E_INVALIDARG),
        OTHER(Vexo_stringAddAlternative(db, o.slot, 7, u"x"), E_INVALIDARG),
        OTHER(Vexo_stringLookup(db, o.slot, 7, 7, &found), E_INVALIDARG),
    };
#undef OTHER
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Db kept;
        VexoNode *group = made(Vexo_createElementGroup, kept.handle, u"G", nullptr, nullptr), *b = nullptr;
        ASSERT_EQ(Vexo_create(u"B", &b), S_OK);
        Other o = {b, made(Vexo_createElementGroup, b, u"OG", nullptr, nullptr), made(Vexo_createFrame, b, u"F", 8u),
                   made(Vexo_createCyclicTiming, b, uint64_t(10), nullptr), newSegment(b), nullptr};
        ASSERT_EQ(Vexo_stringCreateSlot(b, 7, u"other", &o.slot), S_OK);
        EXPECT_EQ(c.call(kept.handle, group, o), c.want);
        ASSERT_EQ(Vexo_destroy(b), S_OK);
        EXPECT_TRUE(entries(as<ElementGroup>(group)->children).empty());
        for (void *entry : entries(kept.collections()->identElements->children)) {
            EXPECT_GE(Vexo_getNodeType(static_cast<VexoNode *>(entry)), 0);
            const VexoChar *text = nullptr;
            Vexo_getTextValue(kept.handle, static_cast<VexoNode *>(entry), 7, 7, &text);
        }
    }

    // A segment record of the database itself is taken (its own timings, slots and texts: the other tests).
    Db d;
    VexoNode *segment = newSegment(d.handle), *group = made(Vexo_createElementGroup, d.handle, u"G", nullptr, nullptr);
    ASSERT_EQ(Vexo_appendChildren(group, 1, &segment), S_OK);
    EXPECT_EQ(entries(as<ElementGroup>(group)->children), std::vector<void *>{segment});

    Db other;
    VexoNode *channel = d.channel(u"C"), *foreignChannel = other.channel(u"C"), *pdu = d.mux();
    VexoNode *foreignFrame = other.frame(u"F"), *foreignPart = other.part(u"X", 1);
    VexoNode *triggering =
        made(Vexo_createIdentifierBasedTriggering, d.handle, u"T", 1u, 0u, nullptr, nullptr, nullptr);
    const VexoChar *text = u"sentinel";
    // Each call runs as its row is made, in order; the trace shows the call.
    struct Refusal { const char *call; HRESULT got, want; };
#define CALL(call, want) Refusal{#call, call, want}
    const Refusal refusals[] = {
        CALL(Vexo_setParent(channel, foreignFrame), E_INVALIDARG),
        CALL(Vexo_setReference(triggering, foreignFrame), E_INVALIDARG),
        CALL(Vexo_setChannel(triggering, foreignChannel), E_FAIL),
        CALL(Vexo_setFrame(triggering, foreignFrame), E_FAIL), CALL(Vexo_setStaticPart(pdu, foreignPart), E_INVALIDARG),
        CALL(Vexo_addFrames(d.handle, 1, &foreignFrame), S_OK), CALL(Vexo_addDynamicParts(pdu, 1, &foreignPart), S_OK),
        CALL(Vexo_addFrameTriggerings(foreignChannel, 1, &triggering), S_OK),
        // Every text function takes its node through one ownership check.
        CALL(Vexo_setShortName(d.handle, foreignFrame, u"x"), E_INVALIDARG),
        CALL(Vexo_getShortName(d.handle, foreignFrame, &text), E_INVALIDARG),
    };
#undef CALL
    for (const Refusal &c : refusals)
        EXPECT_EQ(c.got, c.want) << c.call;
    EXPECT_EQ(as<Channel>(channel)->parent, nullptr);
    EXPECT_EQ(as<FrameTriggering>(triggering)->parent, nullptr);
    EXPECT_EQ(as<FrameTriggering>(triggering)->reference, nullptr);
    EXPECT_EQ(as<MultiplexedPDU>(pdu)->staticPart, nullptr);
    EXPECT_TRUE(entries(d.collections()->frames->children).empty());
    EXPECT_TRUE(entries(as<MultiplexedPDU>(pdu)->dynamicParts).empty());
    EXPECT_TRUE(entries(as<Channel>(foreignChannel)->frameTriggerings).empty());
    EXPECT_EQ(as<MultiplexedPart>(foreignPart)->parent, nullptr);
    EXPECT_EQ(u16(text), u"sentinel");
    EXPECT_EQ(as<Frame>(foreignFrame)->shortname, nullptr);
    // Through its own database the frame's texts are fine.
    EXPECT_EQ(Vexo_getShortName(other.handle, foreignFrame, &text), S_OK);
    EXPECT_EQ(u16(text), u"F");
}
