// The database's count of changes, which decoder indexes and plans are stamped with: every
// creation, link, list entry, setter, range, segment and text moves it; a refused call, a
// read and a text lookup leave it. (Decoding leaves it too: tests/decode.)
#include <gtest/gtest.h>

#include <functional>

#include "database.h"
#include "made.h"
#include "vexo/constants.h"
#include "vexo/enumerate.h"
#include "vexo/model.h"

using namespace vexo::core;

TEST(ChangeCount, EveryChangeOfTheModelCountsAndNothingElse)
{
    VexoNode *db = made(Vexo_create, u"DB"), *cluster = made(Vexo_createCluster, db, u"C", 0u);
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
#define CALL(call) Case{#call, [&] { return call; }}
    const Case changes[] = {
        CALL(Vexo_createFrame(db, nullptr, 8, &out)),
        CALL(Vexo_createMaskedIdentifierTriggering(db, nullptr, 0, 0, 0, frame, nullptr, channel, &out)),
        CALL(Vexo_createCyclicTiming(db, 10, nullptr, &out)), CALL(Vexo_setParent(channel, cluster)),
        CALL(Vexo_setReference(signal, coding2)), CALL(Vexo_setChannel(triggering, channel)),
        CALL(Vexo_setFrame(triggering, frame2)), CALL(Vexo_setFrame(triggering, nullptr)),
        CALL(Vexo_setSourceECU(triggering, ecu)), CALL(Vexo_setStaticPart(mux, part)),
        CALL(Vexo_setElsePart(mux, part)), CALL(Vexo_setSignal(instance, signal)), CALL(Vexo_setParam(frame, 7)),
        CALL(Vexo_setClusterType(cluster, 2)), CALL(Vexo_setShortName(db, frame, u"name")),
        CALL(Vexo_setLongName(db, frame, 0, u"long")), CALL(Vexo_setDescription(db, frame, 1, u"about")),
        CALL(Vexo_setElementDetail(db, frame, 2, u"l", u"d")), CALL(Vexo_setDisplayName(db, unit, 3, u"mph")),
        CALL(Vexo_addViews(db, 1, &view)), CALL(Vexo_addFrameTriggerings(channel, 1, &triggering)),
        CALL(Vexo_addPDUInstances(channel, 1, &pduInstance)), CALL(Vexo_addSignalInstances(pdu, 1, &instance)),
        CALL(Vexo_addInternalToPhysicalComputations(coding, 1, &linear)),
        CALL(Vexo_addPhysicalToInternalComputations(coding, 1, &linear)), CALL(Vexo_addParents(pdu, 1, &pduInstance)),
        CALL(Vexo_addDynamicParts(mux, 1, &part)), CALL(Vexo_addSegment(part, 0, 0, 8)),
        CALL(Vexo_addRange(linear, 0, 1, 3)), CALL(Vexo_appendChildren(view, 1, &frame)),
        CALL(Vexo_insertChildren(view, 1, &frame2)), CALL(Vexo_stringAddAlternative(db, slot, 5, u"texte")),
    };
    Vexo *database = databaseAs(db);
    for (const Case &c : changes) {
        SCOPED_TRACE(c.what);
        const uint64_t before = changesOf(database);
        EXPECT_EQ(c.call(), S_OK);
        EXPECT_GT(changesOf(database), before);
    }

    const Case others[] = {
        CALL(Vexo_setReference(signal, nullptr)), CALL(Vexo_setFrame(triggering, ecu)) /* both refused */,
        CALL(Vexo_getReference(signal, &out)), CALL(Vexo_stringLookup(db, slot, 9, 9, &text)),
    };
    for (const Case &c : others) {
        SCOPED_TRACE(c.what);
        const uint64_t before = changesOf(database);
        c.call();
        EXPECT_EQ(changesOf(database), before);
    }
#undef CALL
    Vexo_destroy(db);
}
