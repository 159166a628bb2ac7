// Creation: argument checks in their fixed order, the links each creation makes, a node that exists whatever a later
// step returns, and out-of-memory at every allocation of a creation-and-link sequence.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "made.h"
#include "test_db.h"
#include "test_text.h"
#include "vexo/model.h"

using namespace vexo::core;

// An argument refused before the node is made leaves nothing behind. Each creation after that is handed one
// argument of the wrong class that it checks later: it answers E_INVALIDARG, but the node exists and the links
// made before the refused one stay.
TEST(Create, RefusedArgumentsCreateNothingUnlessALaterStepFailsAndWrongClassesAreNotLinked)
{
    TestDb db, other;
    VexoNode *timing = made(Vexo_createCyclicTiming, db.handle, uint64_t(10), nullptr);
    VexoNode *foreignCluster = made(Vexo_createCluster, other.handle, u"C", 1u);
    const uint32_t nodesBefore = count(&db.collections()->identElements->children);
    const TrackingStats before = trackingStats(databaseAs(db.handle)->allocator);
    // A reference to a timing, a channel in a cluster of another database.
    VexoNode *out[2] = {};
    EXPECT_EQ(Vexo_createElementReference(db.handle, u"R", timing, &out[0]), E_INVALIDARG);
    EXPECT_EQ(Vexo_createChannel(db.handle, u"C", foreignCluster, &out[1]), E_INVALIDARG);
    EXPECT_TRUE(out[0] == nullptr && out[1] == nullptr);
    EXPECT_EQ(count(&db.collections()->identElements->children), nodesBefore);
    EXPECT_EQ(trackingStats(databaseAs(db.handle)->allocator).blocks, before.blocks);
    VexoNode *const d = db.handle, *frame = made(Vexo_createFrame, d, u"F", 8u), *n[6] = {};
    VexoNode *signal = made(Vexo_createSignal, d, u"S", 0u, 0.0, 0.0, 1.0, nullptr);
    const HRESULT results[] = {
        Vexo_createChannel(d, u"C", frame, &n[0]),                           // in a frame, not a cluster
        Vexo_createPDUTriggering(d, u"T", frame, nullptr, &n[1]),            // of a frame, not a PDU
        Vexo_createSignalPDU(d, u"P", 8, frame, &n[2]),                      // a frame as referrer
        Vexo_createPDUInstance(d, u"I", 0, 0, 0, nullptr, signal, &n[3]),    // in a signal, not a frame
        Vexo_createSignalInstance(d, u"SI", 0, 0, 0, signal, frame, &n[4]),  // in a frame, not a signal PDU
        Vexo_createCyclicTiming(d, 10, frame, &n[5]),                        // under a frame
    };
    const uint32_t codes[] = {Channel::kCode,     PDUTriggering::kCode,  SignalPDU::kCode,
                              PDUInstance::kCode, SignalInstance::kCode, CyclicTiming::kCode};
    for (size_t i = 0; i < std::size(n); ++i) {
        EXPECT_EQ(results[i], E_INVALIDARG) << i;
        ASSERT_NE(n[i], nullptr) << i;
        EXPECT_EQ(codeOf(n[i]), codes[i]) << i;
    }
    EXPECT_EQ(as<Channel>(n[0])->group, nullptr);
    EXPECT_EQ(as<Channel>(n[0])->parent, nullptr);
    EXPECT_EQ(as<PDUTriggering>(n[1])->reference, as<ObjectBase>(frame));
    EXPECT_EQ(entries(db.collections()->PDUs->children), std::vector<void *>{n[2]});
    EXPECT_EQ(as<PDUInstance>(n[3])->parent, as<ObjectBase>(signal));
    EXPECT_EQ(entries(as<Signal>(signal)->signalInstances), std::vector<void *>{n[4]});

    VexoNode *unit = made(Vexo_createUnitSpec, d, u"U", 0x409u, u"km/h");
    VexoNode *coding = made(Vexo_createCoding, d, u"K", 8u, 1u, unit);
    VexoNode *cluster = made(Vexo_createCluster, d, u"CL", 1u), *ecu = made(Vexo_createECU, d, u"E");
    VexoNode *channel = made(Vexo_createChannel, d, u"CH", cluster);
    VexoNode *reference = made(Vexo_createElementReference, d, u"R", coding);
    EXPECT_EQ(entries(as<ElementGroup>(cluster)->children), std::vector<void *>{channel});
    EXPECT_EQ(as<Channel>(channel)->group, as<ElementGroup>(cluster));
    EXPECT_EQ(as<Channel>(channel)->parent, nullptr);
    // The creation with the argument, and the field the argument lands in.
    using Create = std::function<VexoNode *(VexoNode *arg)>;
    struct Case { const char *what; Create create; const void *(*linked)(VexoNode *); VexoNode *arg; bool taken; };
    auto signalCoding = [&](VexoNode *a) { return made(Vexo_createSignal, d, nullptr, 0u, 0.0, 0.0, 1.0, a); };
    auto codingUnit = [&](VexoNode *a) { return made(Vexo_createCoding, d, nullptr, 8u, 1u, a); };
    auto triggeringEcu = [&](VexoNode *a) {
        return made(Vexo_createIdentifierBasedTriggering, d, nullptr, 1u, 0u, nullptr, a, nullptr);
    };
    auto triggeringChannel = [&](VexoNode *a) {
        return made(Vexo_createMaskedIdentifierTriggering, d, nullptr, 1u, 2u, 0u, nullptr, nullptr, a);
    };
    auto triggeringFrame = [&](VexoNode *a) {
        return made(Vexo_createAbsolutelyScheduledTriggering, d, nullptr, 1u, 2u, 3u, 0u, a, nullptr, nullptr);
    };
    auto reference_ = [](VexoNode *n) -> const void * { return as<ElementReference>(n)->reference; };
    auto parent = [](VexoNode *n) -> const void * { return as<ElementChild>(n)->parent; };
    auto source = [](VexoNode *n) -> const void * { return as<FrameTriggering>(n)->sourceEcu; };
    const Case cases[] = {
        {"signal with a coding", signalCoding, reference_, coding, true},
        {"signal with a unit in the coding's place", signalCoding, reference_, unit, false},
        {"signal with a reference to a coding", signalCoding, reference_, reference, false},
        {"coding with a unit", codingUnit, reference_, unit, true},
        {"coding with a coding in the unit's place", codingUnit, reference_, coding, false},
        {"triggering sent by an ECU", triggeringEcu, source, ecu, true},
        {"triggering sent by a cluster (a kind of group, not a group)", triggeringEcu, source, cluster, false},
        {"triggering on a channel", triggeringChannel, parent, channel, true},
        {"triggering on a frame in the channel's place", triggeringChannel, parent, frame, false},
        {"triggering of a frame", triggeringFrame, reference_, frame, true},
        {"triggering of a channel in the frame's place", triggeringFrame, reference_, channel, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VexoNode *node = c.create(c.arg);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(c.linked(node), c.taken ? static_cast<const void *>(c.arg) : nullptr);
    }
}

// The links each creation writes into the new node and the lists it joins.
TEST(Create, EachCreationLinksItsOwnersAndECUsAreCheckedInTheirOwnOrder)
{
    TestDb db;
    VexoNode *const d = db.handle, *channel = made(Vexo_createChannel, d, u"CH", nullptr);
    VexoNode *frame = made(Vexo_createFrame, d, u"F", 8u), *pdu = made(Vexo_createSignalPDU, d, u"P", 64u, nullptr);
    VexoNode *triggering = made(Vexo_createIdentifierBasedTriggering, d, u"T", 0x7FFu, 1u, frame, nullptr, channel);
    VexoNode *pduInstance = made(Vexo_createPDUInstance, d, u"PI", 0u, 0u, 0u, pdu, frame);
    VexoNode *pduTriggering = made(Vexo_createPDUTriggering, d, u"PT", pdu, channel);
    VexoNode *signal = made(Vexo_createSignal, d, u"S", 0u, 0.0, 0.0, 1.0, nullptr);
    VexoNode *instance = made(Vexo_createSignalInstance, d, u"SI", 0u, 4u, 0u, signal, pdu);
    VexoNode *mux = made(Vexo_createMultiplexedPDU, d, u"M", 64u, 0u, 0u, 8u, 0u, nullptr);
    VexoNode *part = made(Vexo_createMultiplexedPart, d, u"X", 3u, mux);
    VexoNode *nested = made(Vexo_createSignalPDU, d, u"N", 32u, part);
    VexoNode *got[2] = {};
    EXPECT_EQ(Vexo_getChannel(triggering, &got[0]), S_OK);
    EXPECT_EQ(Vexo_getFrame(triggering, &got[1]), S_OK);
    using V = std::vector<void *>;
    EXPECT_EQ(V(got, got + 2), (V{channel, frame}));
    // Parent and reference of each; a part only names its PDU (listing it is a separate step).
    const std::pair<VexoNode *, std::pair<VexoNode *, VexoNode *>> links[] = {
        {pduInstance, {frame, pdu}}, {pduTriggering, {channel, pdu}}, {instance, {pdu, signal}}, {part, {mux, nested}}};
    for (const auto &[node, want] : links) {
        EXPECT_EQ(as<ElementChild>(node)->parent, as<ObjectBase>(want.first));
        EXPECT_EQ(as<ElementReference>(node)->reference, as<ObjectBase>(want.second));
    }
    EXPECT_TRUE(entries(as<MultiplexedPDU>(mux)->dynamicParts).empty());
    EXPECT_EQ(entries(as<PDU>(nested)->parents), V{part});
    EXPECT_EQ(entries(db.collections()->PDUs->children), (V{mux, nested, pdu}));
    // Each creation lists its node in its default group; a timing joins its parent's children.
    VexoNode *coding = made(Vexo_createCoding, d, u"K", 8u, 1u, nullptr);
    VexoNode *timing = made(Vexo_createCyclicTiming, d, uint64_t(10), triggering);
    EXPECT_EQ(entries(as<ElementGroup>(triggering)->children), V{timing});
    const std::pair<const NodeList *, VexoNode *> lists[] = {
        {&db.collections()->frames->children, frame}, {&db.collections()->signals->children, signal},
        {&db.collections()->codings->children, coding}, {&as<Channel>(channel)->frameTriggerings, triggering},
        {&as<Frame>(frame)->frameTriggerings, triggering}, {&as<Channel>(channel)->PDUTriggerings, pduTriggering},
        {&as<PDU>(pdu)->triggerings, pduTriggering}, {&as<Frame>(frame)->PDUInstances, pduInstance},
        {&as<PDU>(pdu)->parents, pduInstance}, {&as<SignalPDU>(pdu)->signalInstances, instance},
        {&as<Signal>(signal)->signalInstances, instance}};
    for (size_t i = 0; i < std::size(lists); ++i)
        EXPECT_EQ(entries(*lists[i].first), V{lists[i].second}) << "list " << i;

    VexoNode *collections = reinterpret_cast<VexoNode *>(db.collections());
    struct Case { const char *what; VexoNode *database; bool out; HRESULT want; };
    const Case cases[] = {
        {"null database, null out", nullptr, false, E_POINTER}, {"frame, null out", frame, false, E_INVALIDARG},
        {"collections node, null out", collections, false, E_POINTER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VexoNode *out = nullptr;
        EXPECT_EQ(Vexo_createECU(c.database, u"E", c.out ? &out : nullptr), c.want);
        EXPECT_EQ(out, nullptr);
    }
    VexoNode *ecu = made(Vexo_createECU, db.handle, u"ECU1"), *anonymous = made(Vexo_createECU, db.handle, nullptr);
    VexoNode *found = nullptr;
    EXPECT_EQ(entries(db.collections()->ECUs->children), std::vector<void *>{ecu});
    EXPECT_EQ(as<ElementGroup>(ecu)->group, db.collections()->ECUs);
    EXPECT_EQ(as<ElementGroup>(anonymous)->group, nullptr);
    EXPECT_EQ(Vexo_findByElementId(db.handle, u"ECU1", &found), S_OK);
    EXPECT_EQ(found, ecu);
}

// Builds a small but complete model; every step may be cut short by a failed allocation. Steps that follow a failed one
// run with memory available again and must cope with whatever the failure left (null nodes, nodes without links).
struct Model {
    VexoNode *db{}, *cluster{}, *channel{}, *ecu{}, *frame{}, *triggering{}, *pdu{}, *pduInstance{}, *unit{};
    VexoNode *coding{}, *linear{}, *signal{}, *mux{}, *part{}, *pduTriggering{}, *timing{};
    VexoNode *frames[30] = {}, *sis[15] = {}, *parts[15] = {};

    std::vector<std::function<HRESULT()>> steps()
    {
        std::vector<std::function<HRESULT()>> s = {
            [&] { return Vexo_createCluster(db, u"CAN", 1, &cluster); },
            [&] { return Vexo_createChannel(db, u"CH", cluster, &channel); },
            [&] { return Vexo_createECU(db, u"ECU", &ecu); }, [&] { return Vexo_createFrame(db, u"F", 8, &frame); },
            [&] { return Vexo_createIdentifierBasedTriggering(db, u"T", 0x10, 0, frame, ecu, channel, &triggering); },
            [&] { return Vexo_createSignalPDU(db, u"P", 64, nullptr, &pdu); },
            [&] { return Vexo_createPDUInstance(db, u"PI", 0, 0, 0, pdu, frame, &pduInstance); },
            [&] { return Vexo_createPDUTriggering(db, u"PT", pdu, channel, &pduTriggering); },
            [&] { return Vexo_createCyclicTiming(db, 100, pduTriggering, &timing); },
            [&] { return Vexo_createUnitSpec(db, u"U", 0x409, u"km/h", &unit); },
            [&] { return Vexo_setDisplayName(db, unit, 0x407, u"km/h (de)"); },
            [&] { return Vexo_createCoding(db, u"K", 8, 1, unit, &coding); },
            [&] { return Vexo_createLinearComputation(db, u"L", 0.5, 1, &linear); },
            [&] { return Vexo_addInternalToPhysicalComputations(coding, 1, &linear); },
            [&] { return Vexo_addRange(linear, 0, 100, 3); },
            [&] { return Vexo_createSignal(db, u"S", 0, 0, 0, 100, coding, &signal); },
            [&] { return Vexo_setElementDetail(db, signal, 0x409, u"Speed", u"Vehicle speed"); },
            [&] { return Vexo_setShortName(db, signal, u"spd"); },
            [&] { return Vexo_createMultiplexedPDU(db, u"M", 64, 0, 0, 8, 0, pduInstance, &mux); },
        };
        for (int i = 0; i < 30; ++i)
            s.push_back([&, i] { return Vexo_createFrame(db, numbered(u"F", (i * 11) % 30).c_str(), 8, &frames[i]); });
        for (int i = 0; i < 15; ++i) {
            s.push_back([&, i] { return Vexo_createSignalInstance(db, nullptr, 0, 4 * i, 0, signal, pdu, &sis[i]); });
            s.push_back([&, i] { return Vexo_createMultiplexedPart(db, nullptr, (i * 7) % 15, mux, &parts[i]); });
            s.push_back([&, i] { return Vexo_addDynamicParts(mux, 1, &parts[i]); });
            s.push_back([&, i] { return Vexo_addSegment(parts[i], 0, 8, 4); });
        }
        return s;
    }
};

// Identifier-ordered lists stay strictly ordered and hold only genuine nodes.
void expectOrdered(const NodeList &list)
{
    const VexoChar *previous = nullptr;
    for (void *entry : entries(list)) {
        const auto *element = nodeAs<ElementId>(entry);
        ASSERT_NE(element, nullptr);
        ASSERT_NE(element->eid, nullptr);
        if (previous != nullptr) {
            EXPECT_LT(compareUnits(previous, element->eid), 0) << ascii(previous) << " before " << ascii(element->eid);
        }
        previous = element->eid;
    }
}

TEST(Create, EveryFailedAllocationIsReportedAndLeavesAUsableDatabase)
{
    // One undisturbed run counts the blocks the sequence allocates.
    uint32_t total = 0;
    {
        Model model;
        ASSERT_EQ(Vexo_create(u"DB", &model.db), S_OK);
        const uint32_t before = trackingStats(databaseAs(model.db)->allocator).blocks;
        for (const auto &step : model.steps())
            ASSERT_GE(step(), 0);
        total = trackingStats(databaseAs(model.db)->allocator).blocks - before;
        Vexo_destroy(model.db);
    }
    ASSERT_GT(total, 100u);
    for (uint32_t n = 1; n <= total; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
        Model model;
        ASSERT_EQ(Vexo_create(u"DB", &model.db), S_OK);
        const auto steps = model.steps();
        failAllocationAfter(n);
        size_t failed = steps.size();
        HRESULT hr = S_OK;
        for (size_t i = 0; i < steps.size() && failed == steps.size(); ++i) {
            if ((hr = steps[i]()) < 0)
                failed = i;
        }
        failAllocationAfter(0);
        // Every allocation of the sequence is needed, so each failure must surface.
        EXPECT_LT(failed, steps.size()) << "a failed allocation went unreported";
        EXPECT_EQ(hr, E_OUTOFMEMORY) << "step " << failed;
        for (size_t i = failed + 1; i < steps.size(); ++i)
            steps[i]();
        DatabaseCollections *collections = nullptr;
        ASSERT_EQ(collectionsOf(model.db, &collections), S_OK);
        expectOrdered(collections->identElements->children);
        for (ElementGroup *group : {collections->clusters, collections->ECUs, collections->PDUs, collections->frames,
                                    collections->signals, collections->codings})
            expectOrdered(group->children);
        if (auto *mux = as<MultiplexedPDU>(model.mux)) {
            int64_t previous = -1;
            for (void *entry : entries(mux->dynamicParts)) {
                const int64_t code = nodeAs<MultiplexedPart>(entry)->switchCode;
                EXPECT_LT(previous, code);
                previous = code;
            }
        }
        EXPECT_EQ(Vexo_destroy(model.db), S_OK);
    }
}
