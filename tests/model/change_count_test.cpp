// The database's count of changes, which decoder indexes and plans are stamped with: every
// creation, link, list entry, setter, range, segment and text moves it; a refused call, a
// read and a text lookup leave it. (Decoding leaves it too: tests/decode.)
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "database.h"
#include "made.h"
#include "vexo/constants.h"
#include "vexo/enumerate.h"
#include "vexo/model.h"

using namespace vexo::core;

TEST(ChangeCount, EveryChangeOfTheModelCountsAndNothingElse)
{
    VexoNode *db = made(Vexo_create, u"DB");
    VexoNode *cluster = made(Vexo_createCluster, db, u"C", 0u);
    VexoNode *channel = made(Vexo_createChannel, db, u"CH", cluster);
    VexoNode *frame = made(Vexo_createFrame, db, u"F", 8u), *frame2 = made(Vexo_createFrame, db, u"F2", 4u);
    VexoNode *ecu = made(Vexo_createECU, db, u"E");
    VexoNode *triggering = made(Vexo_createIdentifierBasedTriggering, db, u"T", 1u, 0u, frame, nullptr, channel);
    VexoNode *pdu = made(Vexo_createSignalPDU, db, u"P", 64u, nullptr);
    VexoNode *mux = made(Vexo_createMultiplexedPDU, db, u"M", 64u, 0u, 0u, 4u, 0u, nullptr);
    VexoNode *part = made(Vexo_createMultiplexedPart, db, u"MP", 1u, mux);
    VexoNode *pduInstance = made(Vexo_createPDUInstance, db, u"PI", 0u, 0u, 0u, pdu, frame);
    VexoNode *coding = made(Vexo_createCoding, db, u"K", 8u, uint32_t(Q3_ENCODING_DIRECT), nullptr);
    VexoNode *coding2 = made(Vexo_createCoding, db, u"K2", 8u, uint32_t(Q3_ENCODING_DIRECT), nullptr);
    VexoNode *signal = made(Vexo_createSignal, db, u"S", 0u, 0.0, 0.0, 0.0, coding);
    VexoNode *instance = made(Vexo_createSignalInstance, db, u"SI", 0u, 0u, 0u, signal, pdu);
    VexoNode *linear = made(Vexo_createLinearComputation, db, u"L", 1.0, 0.0);
    VexoNode *view = made(Vexo_createElementGroup, db, u"V", nullptr, nullptr);
    VexoNode *unit = made(Vexo_createUnitSpec, db, u"U", 0u, u"km");
    VexoStringSlot *slot = nullptr;
    ASSERT_EQ(Vexo_stringCreateSlot(db, 0, u"text", &slot), S_OK);
    VexoNode *out = nullptr;
    const VexoChar *text = nullptr;

    struct Case { const char *what; std::function<HRESULT()> call; };
    const Case changes[] = {
        {"create a frame", [&] { return Vexo_createFrame(db, nullptr, 8, &out); }},
        {"create a masked triggering",
         [&] { return Vexo_createMaskedIdentifierTriggering(db, nullptr, 0, 0, 0, frame, nullptr, channel, &out); }},
        {"create a cyclic timing", [&] { return Vexo_createCyclicTiming(db, 10, nullptr, &out); }},
        {"set parent", [&] { return Vexo_setParent(channel, cluster); }},
        {"set reference", [&] { return Vexo_setReference(signal, coding2); }},
        {"set channel", [&] { return Vexo_setChannel(triggering, channel); }},
        {"set frame", [&] { return Vexo_setFrame(triggering, frame2); }},
        {"set frame to none", [&] { return Vexo_setFrame(triggering, nullptr); }},
        {"set source ECU", [&] { return Vexo_setSourceECU(triggering, ecu); }},
        {"set static part", [&] { return Vexo_setStaticPart(mux, part); }},
        {"set else part", [&] { return Vexo_setElsePart(mux, part); }},
        {"set signal", [&] { return Vexo_setSignal(instance, signal); }},
        {"set param", [&] { return Vexo_setParam(frame, 7); }},
        {"set cluster type", [&] { return Vexo_setClusterType(cluster, 2); }},
        {"set short name", [&] { return Vexo_setShortName(db, frame, u"name"); }},
        {"set long name", [&] { return Vexo_setLongName(db, frame, 0, u"long"); }},
        {"set description", [&] { return Vexo_setDescription(db, frame, 1, u"about"); }},
        {"set element detail", [&] { return Vexo_setElementDetail(db, frame, 2, u"l", u"d"); }},
        {"set display name", [&] { return Vexo_setDisplayName(db, unit, 3, u"mph"); }},
        {"add a view", [&] { return Vexo_addViews(db, 1, &view); }},
        {"add a frame triggering again", [&] { return Vexo_addFrameTriggerings(channel, 1, &triggering); }},
        {"add a PDU instance", [&] { return Vexo_addPDUInstances(channel, 1, &pduInstance); }},
        {"add a signal instance", [&] { return Vexo_addSignalInstances(pdu, 1, &instance); }},
        {"add a computation", [&] { return Vexo_addInternalToPhysicalComputations(coding, 1, &linear); }},
        {"add an inverse computation", [&] { return Vexo_addPhysicalToInternalComputations(coding, 1, &linear); }},
        {"add a parent", [&] { return Vexo_addParents(pdu, 1, &pduInstance); }},
        {"add a dynamic part", [&] { return Vexo_addDynamicParts(mux, 1, &part); }},
        {"add a segment", [&] { return Vexo_addSegment(part, 0, 0, 8); }},
        {"add a range", [&] { return Vexo_addRange(linear, 0, 1, 3); }},
        {"append a child", [&] { return Vexo_appendChildren(view, 1, &frame); }},
        {"insert a child", [&] { return Vexo_insertChildren(view, 1, &frame2); }},
        {"add a text in another language", [&] { return Vexo_stringAddAlternative(db, slot, 5, u"texte"); }},
    };
    Vexo *database = databaseAs(db);
    for (const Case &c : changes) {
        SCOPED_TRACE(c.what);
        const uint64_t before = changesOf(database);
        EXPECT_EQ(c.call(), S_OK);
        EXPECT_GT(changesOf(database), before);
    }

    const Case others[] = {
        {"refused link", [&] { return Vexo_setReference(signal, nullptr); }},
        {"refused triggering link", [&] { return Vexo_setFrame(triggering, ecu); }},
        {"a read", [&] { return Vexo_getReference(signal, &out); }},
        {"a text lookup", [&] { return Vexo_stringLookup(db, slot, 9, 9, &text); }},
    };
    for (const Case &c : others) {
        SCOPED_TRACE(c.what);
        const uint64_t before = changesOf(database);
        c.call();
        EXPECT_EQ(changesOf(database), before);
    }
    Vexo_destroy(db);
}
