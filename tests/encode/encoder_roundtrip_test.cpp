// Encoder frames decode to the raw values written: a plain frame with fields of both byte orders, a multiplexed one.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "encode_test_model.h"
#include "vexo/decode.h"

using namespace encode_test;

namespace {

using Values = std::map<VexoNode *, uint64_t>;

struct Field { VexoNode *signal; uint32_t bits; };
using Fields = std::vector<Field>;

Values decodeFrame(VexoNode *channel, uint32_t identifier, const std::vector<uint8_t> &data)
{
    Values out;
    VexoDecodeState *state = nullptr;
    EXPECT_EQ(Vexo_decodeMessage(channel, identifier, 0, uint32_t(data.size()), data.data(), &state), S_OK);
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
        return m.instance(signal, pdu, position, order), Field{signal, bits};
    };
    // A part of `mux` assembled from little-endian segments (position, length), holding a PDU of `bits`.
    auto part = [&](VexoNode *mux, uint32_t code, uint32_t bits, bool isStatic,
                    std::vector<std::pair<uint32_t, uint32_t>> segments) {
        VexoNode *pdu = nullptr, *p = m.part(mux, code, bits, isStatic, &pdu);
        for (auto [at, length] : segments)
            EXPECT_EQ(Vexo_addSegment(p, kLE, at, length), S_OK);
        return pdu;
    };
    // A frame's fixed fields (of its signal PDU or static part) and the fields of each dynamic part.
    struct Frame { VexoNode *frame; uint32_t identifier; Fields fields; std::vector<Fields> parts; };
    std::vector<Frame> frames;
    VexoNode *frame = m.frame(8), *pdu = m.signalPdu(64);
    m.place(pdu, frame);
    frames.push_back({frame, 0x10, {field(pdu, 12, 0, kLE), field(pdu, 16, 23, kBE), field(pdu, 1, 40, kLE),
                                    field(pdu, 7, 55, kBE), field(pdu, 7, 41, kLE), field(pdu, 8, 63, kBE)}, {}});
    VexoNode *mux = m.muxPdu(64, kLE, 0, 8);  // switch byte; a static and two dynamic parts of segments
    m.place(mux, frame = m.frame(8));
    pdu = part(mux, 0, 16, true, {{8, 16}});
    Frame x{frame, 0x20, {field(pdu, 16, 0, kLE)}, {}};
    pdu = part(mux, 1, 32, false, {{24, 32}});
    x.parts.push_back({field(pdu, 20, 0, kLE), field(pdu, 9, 20, kLE)});
    pdu = part(mux, 2, 32, false, {{24, 16}, {48, 16}});
    x.parts.push_back({field(pdu, 8, 7, kBE), field(pdu, 10, 8, kLE), field(pdu, 14, 18, kLE)});
    frames.push_back(x);

    std::vector<VexoNode *> triggerings;
    std::map<VexoNode *, uint32_t> identifiers;
    for (const Frame &f : frames)
        triggerings.push_back(m.trigger(channel, f.frame, identifiers[f.frame] = f.identifier));
    Encoder enc(m.db, channel);
    const uint32_t app = enc.app(Q3_ENC_MODE_PERIODIC);
    for (VexoNode *t : triggerings)
        ASSERT_EQ(Vexo_EncoderInsert(enc, app, t), S_OK);
    std::mt19937_64 random(20240607);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        std::map<VexoNode *, Values> written;  // frame -> the values it must carry
        for (const Frame &f : frames) {
            Fields fields = f.fields;
            if (!f.parts.empty()) {  // one dynamic part per trigger: the switch of the part passed last wins
                const Fields &chosen = f.parts[random() % f.parts.size()];
                fields.insert(fields.end(), chosen.begin(), chosen.end());
            }
            for (const Field &field : fields) {
                const uint64_t value = random() & ((uint64_t(1) << field.bits) - 1);
                ASSERT_EQ(Vexo_EncoderChangeSignal(enc, app, field.signal, value | (uint64_t(1) << 63)), S_OK);
                written[f.frame][field.signal] = value;
            }
        }
        ASSERT_EQ(Vexo_EncoderTrigger(enc, uint32_t(round), 0), S_OK);
        const std::vector<Sent> sent = enc.fetch();
        EXPECT_EQ(sent.size(), 2u);
        for (const Sent &s : sent)
            EXPECT_EQ(decodeFrame(channel, identifiers[s.frame], s.data), written[s.frame]);
    }
}

// The encoder reaches every signal the decoder reads, up to the decoder's deepest nesting: a chain
// of multiplexed PDUs, each the PDU of the one before's static part (one 8-bit segment).
TEST(EncoderRoundTrip, NestedPartsAsDeepAsTheDecoderReads)
{
    for (int depth : {28, 29, 40, 63}) {
        SCOPED_TRACE(depth);
        Model m;
        VexoNode *channel = m.channel(m.cluster()), *frame = m.frame(1), *mux = m.muxPdu(8, kLE, 0, 0), *pdu = nullptr;
        m.place(mux, frame);
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
        VexoNode *signal = m.signal(8), *triggering = m.trigger(channel, frame, 0x7);
        m.instance(signal, pdu, 0);
        Encoder enc(m.db, channel);
        EXPECT_EQ(decodeFrame(channel, 0x7, enc.sendOnce(triggering, signal, 0x5A)), (Values{{signal, 0x5A}}));
    }
}

}  // namespace
