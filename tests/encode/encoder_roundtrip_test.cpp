// Values written with the encoder and fetched as frames decode back to the same raw values,
// for a plain frame with fields of both byte orders and for multiplexed frames.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "encode_test_model.h"
#include "vexo/decode.h"

using namespace encode_test;

namespace {

struct Field {
    VexoNode *signal;
    uint32_t bits;
};

struct Part {
    uint32_t code;
    std::vector<Field> fields;
};

// Raw value of every signal instance decoded from one received frame.
std::map<VexoNode *, uint64_t> decodeFrame(VexoNode *channel, uint32_t identifier, const VexoChangedFrame &frame)
{
    std::map<VexoNode *, uint64_t> out;
    VexoDecodeState *state = nullptr;
    EXPECT_EQ(Vexo_decodeMessage(channel, identifier, 0, frame.length, frame.data, &state), S_OK);
    EXPECT_EQ(Vexo_decodeNextFrametriggering(state, nullptr), S_OK);
    VexoDecodedSignal record{};
    while (Vexo_decodeNextSignal(state, nullptr, &record) == S_OK)
        out[record.signal] = record.rawValue;
    EXPECT_EQ(Vexo_destroyDecodeEnum(state), S_OK);
    return out;
}

TEST(EncoderRoundTrip, DecodedFramesGiveBackTheWrittenValues)
{
    Model m;
    VexoNode *channel = m.channel(m.cluster());
    auto field = [&](VexoNode *pdu, uint32_t bits, uint32_t position, uint32_t order) {
        VexoNode *signal = m.signal(bits);
        m.instance(signal, pdu, position, order);
        return Field{signal, bits};
    };

    // A plain frame.
    VexoNode *plain = m.frame(8);
    VexoNode *plainPdu = m.signalPdu(64);
    m.place(plainPdu, plain);
    const std::vector<Field> plainFields = {field(plainPdu, 12, 0, kLE), field(plainPdu, 16, 23, kBE),
                                            field(plainPdu, 1, 40, kLE), field(plainPdu, 7, 55, kBE),
                                            field(plainPdu, 7, 41, kLE), field(plainPdu, 8, 63, kBE)};

    // Multiplexed frames: switch byte, a static part and two dynamic parts assembled from
    // segments; the second multiplexed PDU lies at bit 8 of its frame with a 4-bit switch.
    struct Mux {
        VexoNode *frame;
        uint32_t identifier;
        std::vector<Field> staticFields;
        std::vector<Part> parts;
    };
    std::vector<Mux> muxes;
    {
        VexoNode *frame = m.frame(8);
        VexoNode *mux = m.muxPdu(64, kLE, 0, 8);
        m.place(mux, frame);
        VexoNode *pdu = nullptr;
        VexoNode *part = m.part(mux, 0, 16, true, &pdu);
        ASSERT_EQ(Vexo_addSegment(part, kLE, 8, 16), S_OK);
        Mux x{frame, 0x20, {field(pdu, 16, 0, kLE)}, {}};
        part = m.part(mux, 1, 32, false, &pdu);
        ASSERT_EQ(Vexo_addSegment(part, kLE, 24, 32), S_OK);
        x.parts.push_back({1, {field(pdu, 20, 0, kLE), field(pdu, 9, 20, kLE)}});
        part = m.part(mux, 2, 32, false, &pdu);
        ASSERT_EQ(Vexo_addSegment(part, kLE, 24, 16), S_OK);
        ASSERT_EQ(Vexo_addSegment(part, kLE, 48, 16), S_OK);
        x.parts.push_back({2, {field(pdu, 8, 7, kBE), field(pdu, 10, 8, kLE), field(pdu, 14, 18, kLE)}});
        muxes.push_back(x);
    }
    {
        VexoNode *frame = m.frame(8);
        VexoNode *mux = m.muxPdu(56, kLE, 0, 4);
        m.place(mux, frame, 8);
        VexoNode *pdu = nullptr;
        VexoNode *part = m.part(mux, 3, 40, false, &pdu);
        ASSERT_EQ(Vexo_addSegment(part, kLE, 4, 40), S_OK);
        Mux x{frame, 0x30, {}, {{3, {field(pdu, 24, 0, kLE), field(pdu, 16, 24, kLE)}}}};
        part = m.part(mux, 9, 8, false, &pdu);
        ASSERT_EQ(Vexo_addSegment(part, kLE, 44, 8), S_OK);
        x.parts.push_back({9, {field(pdu, 8, 0, kLE)}});
        muxes.push_back(x);
    }
    std::map<VexoNode *, uint32_t> identifiers = {{plain, 0x10}};
    std::vector<VexoNode *> triggerings = {m.trigger(channel, plain, 0x10)};
    for (const Mux &x : muxes) {
        identifiers[x.frame] = x.identifier;
        triggerings.push_back(m.trigger(channel, x.frame, x.identifier));
    }

    Encoder enc(m.db, channel);
    const uint32_t app = enc.app(Q3_ENC_MODE_PERIODIC);
    for (VexoNode *t : triggerings)
        ASSERT_EQ(Vexo_EncoderInsert(enc, app, t), S_OK);

    std::mt19937_64 random(20240607);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        std::map<VexoNode *, uint64_t> written;
        std::map<VexoNode *, std::vector<VexoNode *>> expected;  // frame -> signals it must carry
        auto write = [&](VexoNode *frame, const Field &f) {
            const uint64_t value = random() & ((uint64_t(1) << f.bits) - 1);
            ASSERT_EQ(Vexo_EncoderChangeSignal(enc, app, f.signal, value | (uint64_t(1) << 63)), S_OK);
            written[f.signal] = value;
            expected[frame].push_back(f.signal);
        };
        for (const Field &f : plainFields)
            write(plain, f);
        for (const Mux &x : muxes) {
            for (const Field &f : x.staticFields)
                write(x.frame, f);
            // One dynamic part per trigger: the switch of the part passed last wins.
            for (const Field &f : x.parts[random() % x.parts.size()].fields)
                write(x.frame, f);
        }
        ASSERT_EQ(Vexo_EncoderTrigger(enc, uint32_t(round), 0), S_OK);

        int frames = 0;
        VexoChangedFrame f{};
        while (Vexo_EncoderGetChangedFrame(enc, &f) == S_OK) {
            ++frames;
            const std::map<VexoNode *, uint64_t> decoded = decodeFrame(channel, identifiers[f.frame], f);
            EXPECT_EQ(decoded.size(), expected[f.frame].size());
            for (VexoNode *signal : expected[f.frame]) {
                const auto at = decoded.find(signal);
                ASSERT_NE(at, decoded.end()) << "signal not decoded";
                EXPECT_EQ(at->second, written[signal]);
            }
        }
        EXPECT_EQ(frames, 3);
    }
}

// The encoder reaches every signal the decoder reads: in a chain of multiplexed PDUs, each
// the PDU of the one before's static part (one 8-bit segment), up to the decoder's
// deepest nesting.
TEST(EncoderRoundTrip, NestedPartsAsDeepAsTheDecoderReads)
{
    for (int depth : {28, 29, 40, 63}) {
        SCOPED_TRACE(depth);
        Model m;
        VexoNode *channel = m.channel(m.cluster());
        VexoNode *frame = m.frame(1);
        VexoNode *mux = m.muxPdu(8, kLE, 0, 0);
        m.place(mux, frame);
        VexoNode *pdu = nullptr;
        for (int i = 1; i <= depth; ++i) {
            VexoNode *part = m.make(Vexo_createMultiplexedPart, m.id(), 0u, mux);
            ASSERT_EQ(Vexo_setStaticPart(mux, part), S_OK);
            ASSERT_EQ(Vexo_addSegment(part, kLE, 0, 8), S_OK);
            if (i == depth) {
                pdu = m.signalPdu(8, part);
            } else {
                mux = m.muxPdu(8, kLE, 0, 0);
                ASSERT_EQ(Vexo_setReference(part, mux), S_OK);
                ASSERT_EQ(Vexo_addParents(mux, 1, &part), S_OK);
            }
        }
        VexoNode *signal = m.signal(8);
        m.instance(signal, pdu, 0);
        VexoNode *triggering = m.trigger(channel, frame, 0x7);

        Encoder enc(m.db, channel);
        const uint32_t app = enc.app(Q3_ENC_MODE_PERIODIC);
        ASSERT_EQ(Vexo_EncoderInsert(enc, app, triggering), S_OK);
        ASSERT_EQ(Vexo_EncoderChangeSignal(enc, app, signal, 0x5A), S_OK);
        ASSERT_EQ(Vexo_EncoderTrigger(enc, 1, 0), S_OK);
        VexoChangedFrame f{};
        ASSERT_EQ(Vexo_EncoderGetChangedFrame(enc, &f), S_OK);
        const std::map<VexoNode *, uint64_t> decoded = decodeFrame(channel, 0x7, f);
        ASSERT_EQ(decoded.count(signal), 1u);
        EXPECT_EQ(decoded.at(signal), 0x5Au);
    }
}

}  // namespace
