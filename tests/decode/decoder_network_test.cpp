// End to end: a generated CAN channel of 60 frames (standard and extended identifiers, random fields of both byte
// orders, signed and unsigned) decodes a stream of random frames to exactly the raw values read here bit by bit. Which
// triggerings match is checked against a plain walk in frame_program_test.cpp, multiplexed parts in decoder_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "made.h"
#include "vexo/vexo.h"

namespace {

// A field's frame bits, least significant first, from the bus convention alone: little-endian runs up from the start
// bit; big-endian down from it (the most significant) to bit 0 of the byte, then on from bit 7 of the next byte.
std::vector<int> fieldBits(int start, int bits, bool big)
{
    std::vector<int> at;
    for (int i = 0, p = start; i < bits; ++i, p = !big ? p + 1 : p % 8 == 0 ? p + 15 : p - 1)
        at.insert(big ? at.begin() : at.end(), p);
    return at;
}

struct Field { VexoNode *signal; int start, bits; bool big; };
struct Frame { uint32_t id, flags; int length; VexoNode *triggering; std::vector<Field> fields; };

TEST(DecoderNetwork, StreamOfFramesDecodesToTheRawValuesReadBitByBit)
{
    std::mt19937 rng(20240611);
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    VexoNode *db = made(Vexo_create, u"net"), *channel = made(Vexo_createChannel, db, u"CAN1", nullptr);
    std::vector<Frame> frames;  // each with up to six non-overlapping random fields in one signal PDU
    for (uint32_t i = 0; i < 60; ++i) {
        const bool extended = i % 3 == 0;
        Frame f{extended ? 0x1ABC000 + i : 0x100 + i, extended ? Q3_FLAG_CANEXTENDED : Q3_FLAG_CANSTANDARD,
                uniform(1, 8), nullptr, {}};
        VexoNode *frame = made(Vexo_createFrame, db, nullptr, uint32_t(f.length));
        VexoNode *pdu = made(Vexo_createSignalPDU, db, nullptr, 64u, nullptr);
        made(Vexo_createPDUInstance, db, nullptr, 0u, 0u, 0u, pdu, frame);
        f.triggering = made(Vexo_createIdentifierBasedTriggering, db, nullptr, f.id, f.flags, frame, nullptr, channel);
        const int size = 8 * f.length;
        std::vector<bool> used(size_t(size), false);
        for (int attempt = 0; attempt < 40 && f.fields.size() < 6; ++attempt) {
            Field field{nullptr, uniform(0, size - 1), uniform(1, std::min(32, size)), uniform(0, 1) == 1};
            const std::vector<int> at = fieldBits(field.start, field.bits, field.big);
            if (!std::all_of(at.begin(), at.end(), [&](int p) { return p >= 0 && p < size && !used[size_t(p)]; }))
                continue;
            for (int p : at)
                used[size_t(p)] = true;
            const uint32_t encoding = uniform(0, 1) ? Q3_ENCODING_2COMPL : Q3_ENCODING_DIRECT;
            VexoNode *coding = made(Vexo_createCoding, db, nullptr, uint32_t(field.bits), encoding, nullptr);
            field.signal = made(Vexo_createSignal, db, nullptr, 0u, 0.0, 0.0, 0.0, coding);
            made(Vexo_createSignalInstance, db, nullptr, uint32_t(field.big), uint32_t(field.start), 0u, field.signal,
                 pdu);
            f.fields.push_back(field);
        }
        frames.push_back(f);
    }

    VexoDecodeState *state = nullptr;  // one state, reused frame after frame
    size_t decoded = 0;
    for (int n = 0; n < 3000; ++n) {
        SCOPED_TRACE(n);
        const Frame &f = frames[size_t(uniform(0, 59))];
        std::vector<uint8_t> data(size_t(f.length));
        for (uint8_t &b : data)
            b = uint8_t(rng());
        std::vector<std::pair<VexoNode *, uint64_t>> want, got;
        for (const Field &field : f.fields) {
            const std::vector<int> at = fieldBits(field.start, field.bits, field.big);
            uint64_t value = 0;
            for (int k = 0; k < field.bits; ++k)
                value |= uint64_t(data[size_t(at[k] / 8)] >> at[k] % 8 & 1) << k;
            want.emplace_back(field.signal, value);
        }
        ASSERT_EQ(Vexo_decodeMessage(channel, f.id, f.flags, uint32_t(f.length), data.data(), &state), S_OK);
        VexoNode *triggering = nullptr;
        ASSERT_TRUE(Vexo_decodeNextFrametriggering(state, &triggering) == S_OK && triggering == f.triggering);
        VexoDecodedSignal record = {};
        while (Vexo_decodeNextSignal(state, nullptr, &record) == S_OK)
            got.emplace_back(record.signal, record.rawValue);
        EXPECT_EQ(got, want);
        decoded += got.size();
    }
    EXPECT_EQ(Vexo_destroyDecodeEnum(state), S_OK);
    EXPECT_GT(decoded, 6000u);
    Vexo_destroy(db);
}

}  // namespace
