#include "walk_queries.h"

#include <gtest/gtest.h>

#include "encode_test_model.h"

using namespace encode_test;
using vexo::encode::WalkQueries;
using vexo::encode::FoundList;

namespace {

// A channel with two frames, one through two triggerings, a masked triggering, a signal PDU
// and a multiplexed PDU whose static part and two dynamic parts each hold a signal PDU.
struct Network : Model {
    VexoNode *cluster = Model::cluster();
    VexoNode *channel = Model::channel(cluster);
    VexoNode *ecu = Model::ecu();
    VexoNode *plain = frame(8);
    VexoNode *muxFrame = frame(8);
    VexoNode *masked = frame(8);
    VexoNode *pdu = signalPdu(64);
    VexoNode *mux = muxPdu(64, kLE, 0, 4);
    VexoNode *parts[3] = {};
    VexoNode *partPdus[3] = {};
    VexoNode *signals[2] = {signal(8), signal(8)};
    WalkQueries query;

    Network()
    {
        trigger(channel, plain, 1, ecu);
        trigger(channel, muxFrame, 2);
        trigger(channel, plain, 3);
        make(Vexo_createMaskedIdentifierTriggering, id(), 0x700u, 0x100u, 0u, masked, static_cast<VexoNode *>(nullptr),
             channel);
        place(pdu, plain);
        place(mux, muxFrame);
        place(signalPdu(8), masked);
        for (int i = 0; i < 3; ++i)
            parts[i] = part(mux, uint32_t(i), 16, i == 0, &partPdus[i]);
        instance(signals[0], pdu, 0);
        instance(signals[1], partPdus[2], 0);
        instance(signals[0], partPdus[1], 8);
        EXPECT_EQ(query.setDatabase(db), S_OK);
    }
};

TEST(NodeVisitor, CountsWhatEachTriggeringAndPartHolds)
{
    Network net;
    WalkQueries &q = net.query;
    VexoNode *coding = nullptr;
    ASSERT_EQ(Vexo_getReference(net.signals[0], &coding), S_OK);
    EXPECT_EQ(q.walkFrom(coding, vexo::encode::Direction::Down), vexo::encode::kWalkRefused);
    struct Case {
        const char *what;
        const VexoNode *start;
        uint32_t frames, pdus, signals, parts;
    };
    // Every identifier-based triggering's frame is met, the same frame twice; the masked
    // triggering's frame is not.
    const Case cases[] = {
        {"channel", net.channel, 3, 6, 4, 3},
        {"cluster", net.cluster, 3, 6, 4, 3},
        {"whole database", nullptr, 3, 6, 4, 3},
        {"frame of the multiplexed PDU", net.muxFrame, 0, 4, 2, 3},
        {"coding: no start rule", coding, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(q.countFrames(c.start), c.frames);
        EXPECT_EQ(q.countPdus(c.start), c.pdus);
        EXPECT_EQ(q.countSignals(c.start), c.signals);
        EXPECT_EQ(q.countParts(c.start), c.parts);
    }
}

TEST(NodeVisitor, NthQueriesFollowWalkOrderAndLevels)
{
    Network net;
    WalkQueries &q = net.query;
    FoundList pdus;
    ASSERT_EQ(q.countPdus(net.channel, &pdus), 6u);
    // Walk order: the plain frame's PDU, then the multiplexed PDU with its static part
    // before the dynamic parts, then the plain frame again.
    const void *order[] = {net.pdu, net.mux, net.partPdus[0], net.partPdus[1], net.partPdus[2], net.pdu};
    const uint32_t levels[] = {1, 1, 2, 2, 2, 1};
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pdus.items[i].node, order[i]);
        EXPECT_EQ(pdus.items[i].level, levels[i]);
        const auto found = q.findPdu(net.channel, i);
        EXPECT_EQ(found.node, order[i]);
        EXPECT_EQ(found.level, levels[i]);
        const auto fromCluster = q.findPdu(net.cluster, i);
        EXPECT_EQ(fromCluster.level, levels[i] + 1);
    }
    EXPECT_EQ(q.findPdu(net.channel, 6).node, nullptr);
    EXPECT_EQ(q.findFrame(net.channel, 0), static_cast<const void *>(net.plain));
    EXPECT_EQ(q.findFrame(net.channel, 1), static_cast<const void *>(net.muxFrame));
    EXPECT_EQ(q.findFrame(net.channel, 2), static_cast<const void *>(net.plain));
    EXPECT_EQ(q.findFrame(net.channel, 3), nullptr);
    EXPECT_EQ(q.findSignal(net.channel, 1).node, static_cast<const void *>(net.signals[0]));
    EXPECT_EQ(q.findSignal(net.channel, 2).node, static_cast<const void *>(net.signals[1]));
    EXPECT_EQ(q.findPart(net.channel, 0).node, static_cast<const void *>(net.parts[0]));
    EXPECT_EQ(q.findPart(net.channel, 0).level, 2u);
    EXPECT_EQ(q.findChannel(nullptr, 0), static_cast<const void *>(net.channel));
    EXPECT_EQ(q.findChannel(nullptr, 1), nullptr);
    EXPECT_EQ(q.findCluster(nullptr, Q3_CLUSTERTYPE_CAN, 0), static_cast<const void *>(net.cluster));
    EXPECT_EQ(q.findCluster(nullptr, Q3_CLUSTERTYPE_CAN, 1), nullptr);
    EXPECT_EQ(q.findCluster(nullptr, Q3_CLUSTERTYPE_LIN, 0), nullptr);
}

TEST(NodeVisitor, TellsWhenTimingsAreDue)
{
    Model m;
    VexoNode *cluster = m.cluster();
    VexoNode *channel = m.channel(cluster);
    VexoNode *pdu = m.signalPdu(8);
    VexoNode *none = m.pduTriggering(pdu, channel);
    VexoNode *both = m.pduTriggering(pdu, channel);
    m.cyclic(both, 100);
    m.event(both, 0);
    WalkQueries q;
    ASSERT_EQ(q.setDatabase(m.db), S_OK);
    EXPECT_EQ(q.findPduTriggering(pdu), static_cast<const void *>(none));

    const uint32_t cyclicTag = 0x7463, eventTag = 0x7465;
    struct Case {
        const char *what;
        VexoNode *node;
        uint64_t now, last;
        HRESULT want;
        uint32_t tag;
    };
    const Case cases[] = {
        {"cycle 100, 99 after", m.cyclic(nullptr, 100), 1099, 1000, E_FAIL, cyclicTag},
        {"cycle 100, 100 after", m.cyclic(nullptr, 100), 1100, 1000, S_OK, cyclicTag},
        {"cycle 0 is never due", m.cyclic(nullptr, 0), 5000, 0, E_FAIL, cyclicTag},
        {"clock behind the last send", m.cyclic(nullptr, 100), 500, 1000, E_FAIL, cyclicTag},
        {"huge cycle does not wrap", m.cyclic(nullptr, ~0ull), 5000, 10, E_FAIL, cyclicTag},
        {"debounce 0 is always due", m.event(nullptr, 0), 1, 1, S_OK, eventTag},
        {"debounce 50, never sent", m.event(nullptr, 50), 10, 0, S_OK, eventTag},
        {"debounce 50, 20 after", m.event(nullptr, 50), 120, 100, E_FAIL, eventTag},
        {"debounce 50, 50 after", m.event(nullptr, 50), 150, 100, S_OK, eventTag},
        {"triggering: cyclic not due, event answers", both, 50, 0, S_OK, eventTag},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t tag = 0;
        EXPECT_EQ(q.timingDue(c.node, c.now, c.last, &tag), c.want);
        EXPECT_EQ(tag, c.tag);
    }
    uint32_t tag = 7;
    EXPECT_EQ(q.timingDue(none, 100, 0, &tag), S_FALSE) << "a triggering without timings";
    EXPECT_EQ(tag, 7u);
}

TEST(NodeVisitor, WalksUpwardsToSourcesAndCyclicTimings)
{
    Network net;
    WalkQueries &q = net.query;
    EXPECT_TRUE(q.ecuSendsFrame(net.plain, net.ecu));
    EXPECT_FALSE(q.ecuSendsFrame(net.muxFrame, net.ecu));
    EXPECT_FALSE(q.signalIsCyclic(net.signals[0]));

    // signals[0] lies first in a PDU without timing, then in a part of the multiplexed
    // PDU, whose triggering is cyclic: the walk must reach it past the first frame.
    net.cyclic(net.pduTriggering(net.mux, net.channel), 10);
    EXPECT_TRUE(q.signalIsCyclic(net.signals[0]));
    EXPECT_TRUE(q.signalIsCyclic(net.signals[1]));
    EXPECT_FALSE(q.signalIsCyclic(net.plain)) << "not a signal";
}

TEST(NodeVisitor, EndsOnModelsWithReferenceCycles)
{
    Network net;
    // A part that holds its own multiplexed PDU, and a cluster that holds itself.
    VexoNode *loop = net.make(Vexo_createMultiplexedPart, net.id(), 9u, net.mux);
    ASSERT_EQ(Vexo_setReference(loop, net.mux), S_OK);
    ASSERT_EQ(Vexo_addDynamicParts(net.mux, 1, &loop), S_OK);
    ASSERT_EQ(Vexo_appendChildren(net.cluster, 1, &net.cluster), S_OK);
    EXPECT_EQ(net.query.countPdus(nullptr), 6u);
    EXPECT_EQ(net.query.countParts(net.channel), 4u);
}

}  // namespace
