// The encoder through its flat interface: applications and send modes, PDU timings, images
// with update bits, multiplexed parts, what is included, start nodes and refused arguments.
#include "encoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "encode_test_model.h"

using namespace encode_test;

namespace {

using Bytes = std::vector<uint8_t>;

struct Bus : Model {  // one channel, one 4-byte frame holding a 24-bit signal PDU at bit 8 with two signals
    VexoNode *cluster = Model::cluster(), *channel = Model::channel(cluster), *frame = Model::frame(4);
    VexoNode *triggering = trigger(channel, frame, 0x100), *pdu = signalPdu(24);
    VexoNode *a = signal(8, 0x12), *b = signal(4, 0x3);

    explicit Bus(uint32_t pduOrder = kLE, uint32_t pduPosition = 8, uint32_t pduUpdate = 0)
    {
        place(pdu, frame, pduPosition, pduOrder, pduUpdate);
        instance(a, pdu, 0, kLE, 23);
        instance(b, pdu, 11, kBE);  // byte 1, bits 3-0
    }
};

TEST(Encoder, RegistersTwentyFourApplicationsAndReusesSlots)
{
    Bus bus;
    Encoder enc(bus.db, bus.channel);
    uint32_t app = 99, mode = 77;
    for (uint32_t i = 0; i < vexo::encode::kApplicationCount; ++i)
        EXPECT_TRUE(Vexo_EncoderRegister(enc, &app) == S_OK && app == i) << i;
    EXPECT_EQ(Vexo_EncoderRegister(enc, &app), E_FAIL);
    EXPECT_EQ(Vexo_EncoderDeregister(enc, 5), S_OK);
    EXPECT_EQ(Vexo_EncoderDeregister(enc, 5), E_FAIL);
    EXPECT_EQ(Vexo_EncoderGetSendMode(enc, 5, &mode), E_FAIL);
    EXPECT_EQ(Vexo_EncoderSetSendMode(enc, 5, Q3_ENC_MODE_ONCE), E_FAIL);
    EXPECT_EQ(Vexo_EncoderRegister(enc, nullptr), E_FAIL);
    EXPECT_EQ(app, 23u);
    EXPECT_TRUE(Vexo_EncoderRegister(enc, &app) == S_OK && app == 5u) << "the freed slot";
    EXPECT_TRUE(Vexo_EncoderGetSendMode(enc, 5, &mode) == S_OK && mode == Q3_ENC_MODE_OFF);
    EXPECT_EQ(Vexo_EncoderSetSendMode(enc, 5, 3), E_INVALIDARG);
    EXPECT_EQ(Vexo_EncoderGetSendMode(enc, 5, nullptr), E_FAIL);
    EXPECT_EQ(Vexo_EncoderDeregister(enc, 24), E_FAIL);
}

TEST(Encoder, DeliversFramesBySendModeAndPduTimings)
{
    // The PDU has no PDU triggering (Plain), one with cycle 100, one with debounce 50, or one without
    // timings, which holds it back for good. Each step sets the application's mode (if >= 0), changes
    // the signal (if `change`), triggers at `at` (if >= 0), then counts the frames fetched.
    enum Timing { Plain, Cyclic, Event, Held };
    struct Step { int mode; bool change; int at; size_t frames; };
    struct Case { const char *what; Timing timing; std::vector<Step> steps; };
    constexpr int P = Q3_ENC_MODE_PERIODIC, O = Q3_ENC_MODE_ONCE;
    const Case cases[] = {
        {"PERIODIC gets every change", Plain, {{P, true, 0, 1}, {-1, true, 10, 1}, {-1, false, -1, 0}}},
        {"ONCE gets what is pending, then nothing until set again", Plain,
         {{-1, true, 0, 0}, {O, false, -1, 1}, {-1, true, 20, 0}, {O, false, -1, 1}}},
        {"OFF gets nothing; the change waits for PERIODIC", Plain,
         {{Q3_ENC_MODE_OFF, true, 0, 0}, {-1, false, -1, 0}, {P, false, -1, 1}}},
        {"cyclic 100, applications OFF, no change", Cyclic,
         {{-1, false, 50, 0}, {-1, false, 100, 1}, {-1, false, 150, 0}, {-1, false, 200, 1}, {-1, false, 299, 0},
          {-1, false, 300, 1}}},
        {"cyclic 100, changes wait for the cycle", Cyclic, {{-1, true, 10, 0}, {-1, true, 60, 0}, {-1, true, 100, 1}}},
        {"event-controlled, debounce 50", Event,
         {{P, true, 10, 1}, {-1, true, 20, 0}, {-1, true, 59, 0}, {-1, true, 60, 1}, {-1, true, 200, 1}}},
        {"event-controlled, nothing changed", Event, {{P, false, 10, 0}, {-1, false, 100, 0}}},
        {"no timings", Held, {{P, true, 10, 0}, {-1, true, 1000, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bus bus;
        VexoNode *pduTriggering = c.timing != Plain ? bus.pduTriggering(bus.pdu, bus.channel) : nullptr;
        if (c.timing == Cyclic || c.timing == Event)
            c.timing == Cyclic ? bus.cyclic(pduTriggering, 100) : bus.event(pduTriggering, 50);
        Encoder enc(bus.db, bus.channel);
        const uint32_t app = enc.app(Q3_ENC_MODE_OFF, bus.triggering);
        EXPECT_EQ(Vexo_EncoderIsSignalCyclic(enc, bus.a), c.timing == Cyclic ? S_OK : S_FALSE);
        uint8_t latest = 0x12;  // a's default
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step &s = c.steps[i];
            EXPECT_TRUE(s.mode < 0 || Vexo_EncoderSetSendMode(enc, app, uint32_t(s.mode)) == S_OK);
            EXPECT_TRUE(!s.change || Vexo_EncoderChangeSignal(enc, app, bus.a, latest = uint8_t(0x40 + i)) == S_OK);
            EXPECT_TRUE(s.at < 0 || Vexo_EncoderTrigger(enc, uint32_t(s.at), 0) == S_OK);
            const std::vector<Sent> sent = enc.fetch();
            ASSERT_EQ(sent.size(), s.frames) << "step " << i;
            EXPECT_TRUE(sent.empty() || (sent[0].frame == bus.frame && sent[0].data[1] == latest)) << "latest value";
        }
    }
}

TEST(Encoder, WritesSignalsAndUpdateBitsIntoFrames)
{
    // The PDU image is AB 09 80: a = 0xAB with its update bit 23, b = 9 big-endian.
    struct Case { const char *what; uint32_t order, position, update; Bytes want; };
    const Case cases[] = {
        {"little-endian at bit 8, update bit 0", kLE, 8, 0, {0x01, 0xAB, 0x09, 0x80}},
        {"big-endian at bit 7, update bit 31", kBE, 7, 31, {0x80, 0x09, 0xAB, 0x80}},
        {"no update bit", kLE, 0, kNoUpdate, {0xAB, 0x09, 0x80, 0x00}},
        {"clipped at the frame's end", kLE, 16, kNoUpdate, {0x00, 0x00, 0xAB, 0x09}},
        {"placed past the frame", kLE, 0xFFFFFF00u, 0xFFFFFF00u, {0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bus bus(c.order, c.position, c.update);
        Encoder enc(bus.db, bus.channel);
        const uint8_t nine[2] = {0xF9, 0xFF};  // only the coding's 4 bits are taken
        ASSERT_EQ(Vexo_EncoderChangeSignalEx(enc, enc.app(Q3_ENC_MODE_OFF, bus.triggering), bus.b, 2, nine), S_OK);
        EXPECT_EQ(enc.sendOnce(bus.triggering, bus.a, 0xAB), c.want);
    }
}

TEST(Encoder, PassesPartsThroughSegmentsWithSwitchCodes)
{
    // A 32-bit multiplexed PDU, 4-bit switch at bit 8; its part's 8-bit PDU holds one signal (0xA7) in two segments.
    struct Case { const char *what; uint32_t order, first, second, switchOrder; bool isStatic, loop; Bytes want; };
    const Case cases[] = {
        {"LE segments, LE switch", kLE, 0, 12, kLE, false, false, {0x07, 0xA5, 0x00, 0x00}},
        {"LE segments, BE switch", kLE, 0, 12, kBE, false, false, {0x07, 0xA0, 0xA0, 0x00}},
        {"BE segments, LE switch", kBE, 31, 27, kLE, false, false, {0x00, 0x05, 0x00, 0x7A}},
        {"static part writes no switch code", kLE, 0, 12, kLE, true, false, {0x07, 0xA0, 0x00, 0x00}},
        {"another part holds its own multiplexed PDU", kLE, 0, 12, kLE, false, true, {0x07, 0xA5, 0x00, 0x00}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Model m;
        VexoNode *channel = m.channel(m.cluster()), *frame = m.frame(4);
        VexoNode *triggering = m.trigger(channel, frame, 7), *mux = m.muxPdu(32, c.switchOrder, 8, 4), *pdu = nullptr;
        m.place(mux, frame);
        VexoNode *part = m.part(mux, 5, 8, c.isStatic, &pdu);
        ASSERT_EQ(Vexo_addSegment(part, c.order, c.first, 4), S_OK);
        ASSERT_EQ(Vexo_addSegment(part, c.order, c.second, 4), S_OK);
        if (c.loop) {
            VexoNode *loop = m.make(Vexo_createMultiplexedPart, m.id(), 2u, mux);
            ASSERT_EQ(Vexo_setReference(loop, mux), S_OK);
            ASSERT_EQ(Vexo_addParents(mux, 1, &loop), S_OK);
            ASSERT_EQ(Vexo_addDynamicParts(mux, 1, &loop), S_OK);
        }
        VexoNode *signal = m.signal(8);
        m.instance(signal, pdu, 0);
        Encoder enc(m.db, channel);
        EXPECT_EQ(enc.sendOnce(triggering, signal, 0xA7), c.want);
    }
}

TEST(Encoder, StartsWithDefaultValuesAndNothingPendingFromEveryKindOfStartNode)
{
    Bus bus;
    bus.instance(bus.signal(8, 85, Q3_ENCODING_ASCII), bus.pdu, 16);  // ASCII codings get no default
    for (const VexoNode *start : {static_cast<VexoNode *>(nullptr), bus.cluster, bus.channel, bus.frame}) {
        SCOPED_TRACE(start == nullptr ? -1 : Vexo_getNodeType(start));
        Encoder enc(bus.db, start);
        VexoChangedFrame f{};
        EXPECT_EQ(Vexo_EncoderGetChangedFrame(enc, &f), S_FALSE);
        enc.app(Q3_ENC_MODE_PERIODIC);
        EXPECT_EQ(Vexo_EncoderTrigger(enc, 1, 0), S_OK);
        EXPECT_TRUE(enc.fetch().empty());
        // a changed, b still holds its default 3, the ASCII field its unused pattern 0.
        EXPECT_EQ(enc.sendOnce(bus.triggering, bus.a, 0x21), (Bytes{0x01, 0x21, 0x03, 0x80}));
    }
}

TEST(Encoder, TakesChangesOnlyIntoIncludedFrames)
{
    Bus bus;
    VexoNode *ecu = bus.ecu(), *other = bus.Model::frame(8);  // other shares the PDU and is sent by the ECU
    VexoNode *sent = bus.trigger(bus.channel, other, 0x200, ecu);
    bus.place(bus.pdu, other, 0);
    VexoNode *masked = bus.make(Vexo_createMaskedIdentifierTriggering, bus.id(), 0xF00u, 0x300u, 0u, bus.frame,
                                static_cast<VexoNode *>(nullptr), bus.channel);
    Model elsewhere;
    VexoNode *foreignTriggering = elsewhere.trigger(elsewhere.channel(nullptr), elsewhere.frame(8), 1);

    Encoder enc(bus.db, bus.channel);
    const uint32_t app = enc.app(Q3_ENC_MODE_PERIODIC);
    using Op = HRESULT (*)(VexoEncoder *, uint32_t, const VexoNode *);
    struct Step { const char *what; Op op; const VexoNode *node; HRESULT result, changeResult; };
    const Step steps[] = {
        {"nothing included yet", nullptr, nullptr, S_OK, E_INVALIDARG},
        {"masked triggering", Vexo_EncoderInsert, masked, S_FALSE, E_INVALIDARG},
        {"frame of another database", Vexo_EncoderInsert, foreignTriggering, S_FALSE, E_INVALIDARG},
        {"ECU of another database", Vexo_EncoderInsert, elsewhere.ecu(), S_FALSE, E_INVALIDARG},
        {"a signal is no frame", Vexo_EncoderInsert, bus.a, S_FALSE, E_INVALIDARG},
        {"deleting what is not included", Vexo_EncoderDelete, bus.triggering, S_OK, E_INVALIDARG},
        {"the ECU's frame", Vexo_EncoderInsert, ecu, S_OK, S_OK},
        {"the first frame as well", Vexo_EncoderInsert, bus.triggering, S_OK, S_OK},
        {"the ECU's frame goes, the shared PDU stays", Vexo_EncoderDelete, sent, S_OK, S_OK},
        {"deleting it again changes nothing", Vexo_EncoderDelete, ecu, S_OK, S_OK},
        {"the last frame goes", Vexo_EncoderDelete, bus.triggering, S_OK, E_INVALIDARG},
        {"a cluster is no ECU", Vexo_EncoderInsert, bus.cluster, S_FALSE, E_INVALIDARG},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(s.op != nullptr ? s.op(enc, app, s.node) : S_OK, s.result) << s.what;
        EXPECT_EQ(Vexo_EncoderChangeSignal(enc, app, bus.a, 0x66), s.changeResult) << s.what;
    }
}

TEST(Encoder, RefusesNullAndForeignArguments)
{
    Bus bus;
    Model other;
    VexoEncoder *made = nullptr;
    for (const VexoNode *node : {bus.a, bus.pdu, other.channel(other.cluster())})
        EXPECT_EQ(Vexo_CreateEncoder(bus.db, node, &made), S_OK);
    EXPECT_EQ(Vexo_CreateEncoder(nullptr, nullptr, &made), S_OK);
    EXPECT_EQ(Vexo_CreateEncoder(bus.channel, nullptr, &made), S_OK);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(Vexo_CreateEncoder(bus.db, nullptr, nullptr), S_OK);

    auto *foreign = reinterpret_cast<VexoEncoder *>(bus.frame);
    uint32_t value = 0;
    VexoChangedFrame f{};
    for (VexoEncoder *h : {static_cast<VexoEncoder *>(nullptr), foreign}) {
        SCOPED_TRACE(h == nullptr ? "null" : "foreign");  // each function's one check takes both
        EXPECT_EQ(Vexo_EncoderRegister(h, &value), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderDeregister(h, 0), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderSetSendMode(h, 0, 0), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderGetSendMode(h, 0, &value), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderInsert(h, 0, bus.triggering), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderDelete(h, 0, bus.triggering), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderChangeSignal(h, 0, bus.a, 1), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderChangeSignalEx(h, 0, bus.a, 8, nullptr), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderTrigger(h, 0, 0), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderGetChangedFrame(h, &f), E_INVALIDARG);
        EXPECT_EQ(Vexo_EncoderIsSignalCyclic(h, bus.a), E_INVALIDARG);
    }
    EXPECT_EQ(Vexo_DestroyEncoder(nullptr), S_OK);
    EXPECT_EQ(Vexo_DestroyEncoder(foreign), E_INVALIDARG);

    VexoNode *wide = bus.signal(65);
    bus.instance(wide, bus.pdu, 0);
    Encoder enc(bus.db, bus.channel);
    const uint32_t app = enc.app(Q3_ENC_MODE_PERIODIC, bus.triggering);
    EXPECT_EQ(Vexo_EncoderChangeSignalEx(enc, app, bus.a, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_EncoderChangeSignal(enc, vexo::encode::kApplicationCount, bus.a, 1), E_INVALIDARG);
    for (const VexoNode *signal : {static_cast<VexoNode *>(nullptr), bus.pdu, wide})
        EXPECT_EQ(Vexo_EncoderChangeSignal(enc, app, signal, 1), E_INVALIDARG);
    EXPECT_EQ(Vexo_EncoderChangeSignalEx(enc, app, bus.a, 0, nullptr), S_OK) << "zero bytes: value 0";
    EXPECT_EQ(Vexo_EncoderIsSignalCyclic(enc, bus.pdu), E_INVALIDARG);
    EXPECT_EQ(Vexo_EncoderGetChangedFrame(enc, nullptr), S_FALSE);
    ASSERT_EQ(Vexo_EncoderTrigger(enc, 1, 0), S_OK);
    const std::vector<Sent> sent = enc.fetch();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].data[1], 0x00);
}

}  // namespace
