// The encoder's walk queries: counts and n-th finds in walk order, timings, upward walks, reference cycles.
#include "walk_queries.h"

#include <gtest/gtest.h>

#include <vector>

#include "encode_test_model.h"

using namespace encode_test;
using vexo::encode::WalkQueries;
using vexo::encode::FoundList;

namespace {

// A channel with two frames, one through two triggerings, a masked triggering, a signal PDU
// and a multiplexed PDU whose static part and two dynamic parts each hold a signal PDU.
struct Network : Model {
    VexoNode *cluster = Model::cluster(), *channel = Model::channel(cluster), *ecu = Model::ecu();
    VexoNode *plain = frame(8), *muxFrame = frame(8), *masked = frame(8);
    VexoNode *pdu = signalPdu(64), *mux = muxPdu(64, kLE, 0, 4);
    VexoNode *parts[3] = {}, *partPdus[3] = {}, *signals[2] = {signal(8), signal(8)};
    WalkQueries query;

    Network()
    {
        trigger(channel, plain, 1, ecu);
        trigger(channel, muxFrame, 2);
        trigger(channel, plain, 3);
        make(Vexo_createMaskedIdentifierTriggering, id(), 0x700u, 0x100u, 0u, masked, nullptr, channel);
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

TEST(NodeVisitor, WalksDownInWalkOrderAndUpToSourcesAndTimingsEndingOnReferenceCycles)
{
    Network net;
    WalkQueries &q = net.query;
    VexoNode *coding = nullptr;
    ASSERT_EQ(Vexo_getReference(net.signals[0], &coding), S_OK);
    EXPECT_EQ(q.walkFrom(coding, vexo::encode::Direction::Down), vexo::encode::kWalkRefused);
    // Every identifier-based triggering's frame is met, the same frame twice; the masked triggering's frame is not.
    struct Case { const char *what; const VexoNode *start; uint32_t frames, pdus, signals, parts; };
    const Case cases[] = {
        {"channel", net.channel, 3, 6, 4, 3}, {"cluster", net.cluster, 3, 6, 4, 3},
        {"whole database", nullptr, 3, 6, 4, 3}, {"frame of the multiplexed PDU", net.muxFrame, 0, 4, 2, 3},
        {"coding: no start rule", coding, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        const std::vector<uint32_t> got = {q.countFrames(c.start), q.countPdus(c.start), q.countSignals(c.start),
                                           q.countParts(c.start)};
        EXPECT_EQ(got, (std::vector<uint32_t>{c.frames, c.pdus, c.signals, c.parts})) << c.what;
    }

    FoundList pdus;
    ASSERT_EQ(q.countPdus(net.channel, &pdus), 6u);
    // Walk order: the plain frame's PDU, the multiplexed PDU, its static then dynamic parts, the plain frame again.
    const void *order[] = {net.pdu, net.mux, net.partPdus[0], net.partPdus[1], net.partPdus[2], net.pdu};
    const uint32_t levels[] = {1, 1, 2, 2, 2, 1};
    for (uint32_t i = 0; i < 6; ++i) {
        const auto found = q.findPdu(net.channel, i);
        EXPECT_TRUE(pdus.items[i].node == order[i] && pdus.items[i].level == levels[i]) << i;
        EXPECT_TRUE(found.node == order[i] && found.level == levels[i]) << i;
        EXPECT_EQ(q.findPdu(net.cluster, i).level, levels[i] + 1) << i;
    }
    struct Find { const char *what; const void *got, *want; };
    const Find finds[] = {
        {"PDU past the end", q.findPdu(net.channel, 6).node, nullptr},
        {"frame 0", q.findFrame(net.channel, 0), net.plain}, {"frame 1", q.findFrame(net.channel, 1), net.muxFrame},
        {"frame 2", q.findFrame(net.channel, 2), net.plain}, {"frame 3", q.findFrame(net.channel, 3), nullptr},
        {"signal 1", q.findSignal(net.channel, 1).node, net.signals[0]},
        {"signal 2", q.findSignal(net.channel, 2).node, net.signals[1]},
        {"part 0", q.findPart(net.channel, 0).node, net.parts[0]},
        {"channel 0", q.findChannel(nullptr, 0), net.channel}, {"channel 1", q.findChannel(nullptr, 1), nullptr},
        {"CAN cluster 0", q.findCluster(nullptr, Q3_CLUSTERTYPE_CAN, 0), net.cluster},
        {"CAN cluster 1", q.findCluster(nullptr, Q3_CLUSTERTYPE_CAN, 1), nullptr},
        {"no LIN cluster", q.findCluster(nullptr, Q3_CLUSTERTYPE_LIN, 0), nullptr},
    };
    for (const Find &f : finds)
        EXPECT_EQ(f.got, f.want) << f.what;
    EXPECT_EQ(q.findPart(net.channel, 0).level, 2u);

    EXPECT_TRUE(q.ecuSendsFrame(net.plain, net.ecu));
    EXPECT_FALSE(q.ecuSendsFrame(net.muxFrame, net.ecu));
    EXPECT_FALSE(q.signalIsCyclic(net.signals[0]));

    // signals[0] lies first in a PDU without timing, then in a part of the multiplexed
    // PDU, whose triggering is cyclic: the walk must reach it past the first frame.
    net.cyclic(net.pduTriggering(net.mux, net.channel), 10);
    EXPECT_TRUE(q.signalIsCyclic(net.signals[0]));
    EXPECT_TRUE(q.signalIsCyclic(net.signals[1]));
    EXPECT_FALSE(q.signalIsCyclic(net.plain)) << "not a signal";

    // A part that holds its own multiplexed PDU, and a cluster that holds itself.
    VexoNode *loop = net.make(Vexo_createMultiplexedPart, net.id(), 9u, net.mux);
    ASSERT_EQ(Vexo_setReference(loop, net.mux), S_OK);
    ASSERT_EQ(Vexo_addDynamicParts(net.mux, 1, &loop), S_OK);
    ASSERT_EQ(Vexo_appendChildren(net.cluster, 1, &net.cluster), S_OK);
    EXPECT_EQ(net.query.countPdus(nullptr), 6u);
    EXPECT_EQ(net.query.countParts(net.channel), 4u);
}

TEST(NodeVisitor, TellsWhenTimingsAreDue)
{
    Model m;
    VexoNode *channel = m.channel(m.cluster()), *pdu = m.signalPdu(8);
    VexoNode *none = m.pduTriggering(pdu, channel), *both = m.pduTriggering(pdu, channel);
    m.cyclic(both, 100);
    m.event(both, 0);
    WalkQueries q;
    ASSERT_EQ(q.setDatabase(m.db), S_OK);
    EXPECT_EQ(q.findPduTriggering(pdu), static_cast<const void *>(none));

    const uint32_t cyclicTag = 0x7463, eventTag = 0x7465;
    struct Case { const char *what; VexoNode *node; uint64_t now, last; HRESULT want; uint32_t tag; };
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
        {"triggering without timings: no tag", none, 100, 0, S_FALSE, 7},
    };
    for (const Case &c : cases) {
        uint32_t tag = 7;
        EXPECT_EQ(q.timingDue(c.node, c.now, c.last, &tag), c.want) << c.what;
        EXPECT_EQ(tag, c.tag) << c.what;
    }
}

}  // namespace
