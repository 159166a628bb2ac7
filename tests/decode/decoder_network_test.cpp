// End to end: a generated CAN channel of 60 frames (standard and extended identifiers, a
// masked identifier range, both byte orders, signed and unsigned signals, one multiplexed
// frame) decodes a stream of random frames to exactly the raw values read here bit by bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "made.h"
#include "vexo/vexo.h"

namespace {

// The frame bits of a field, least significant first, from the bus convention and
// independently of the library: a little-endian field runs up from its start bit; a
// big-endian one runs down from its start bit (the most significant) to bit 0 of the
// byte, then on from bit 7 of the next byte.
std::vector<int> fieldBits(int start, int bits, bool big)
{
    std::vector<int> at;
    for (int i = 0, p = start; i < bits; ++i, p = !big ? p + 1 : p % 8 == 0 ? p + 15 : p - 1)
        at.insert(big ? at.begin() : at.end(), p);
    return at;
}

uint64_t getField(const uint8_t *data, int start, int bits, bool big)
{
    const std::vector<int> at = fieldBits(start, bits, big);
    uint64_t value = 0;
    for (int k = 0; k < bits; ++k)
        value |= uint64_t(data[at[k] / 8] >> at[k] % 8 & 1) << k;
    return value;
}

struct Field { VexoNode *signal; int start, bits; bool big; };
struct Part { int segmentStart; bool segmentBig; std::vector<Field> fields; };  // a 48-bit segment over bytes 2-7
struct FrameSpec {
    uint32_t id, flags, length;
    bool eitherForm;  // the triggering takes both identifier forms
    VexoNode *triggering;
    std::vector<Field> fields;  // of a plain frame, or of the multiplexed frame's static part
    std::vector<Part> parts;    // dynamic parts 0-3 of the multiplexed frame
};

constexpr int kFrames = 60, kMuxFrame = 7;
constexpr uint32_t kMaskedCode = 0x600;  // standard identifiers 0x600-0x60F share frame 0
constexpr uint32_t kUnknownStandard = 0x7FF, kUnknownExtended = 0x1FFFFFFF;

struct Network {
    VexoNode *db = made(Vexo_create, u"net"), *channel = made(Vexo_createChannel, db, u"CAN1", nullptr);
    std::vector<FrameSpec> frames;
    std::mt19937 rng{20240611};

    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    VexoNode *signalPdu(VexoNode *referrer) { return made(Vexo_createSignalPDU, db, nullptr, 64u, referrer); }

    // Up to `wanted` non-overlapping random fields of either byte order and signedness
    // in `bytes` bytes, laid out in a signal PDU.
    std::vector<Field> layOut(VexoNode *pdu, int bytes, int wanted)
    {
        std::vector<Field> fields;
        std::vector<bool> used(size_t(8 * bytes), false);
        for (int attempt = 0; attempt < 40 && int(fields.size()) < wanted; ++attempt) {
            Field f{nullptr, uniform(0, 8 * bytes - 1), uniform(1, std::min(32, 8 * bytes)), uniform(0, 1) == 1};
            const std::vector<int> at = fieldBits(f.start, f.bits, f.big);
            if (!std::all_of(at.begin(), at.end(), [&](int p) { return p >= 0 && p < 8 * bytes && !used[size_t(p)]; }))
                continue;
            for (int p : at)
                used[size_t(p)] = true;
            const uint32_t encoding = uniform(0, 1) ? Q3_ENCODING_2COMPL : Q3_ENCODING_DIRECT;
            VexoNode *coding = made(Vexo_createCoding, db, nullptr, uint32_t(f.bits), encoding, nullptr);
            f.signal = made(Vexo_createSignal, db, nullptr, 0u, 0.0, 0.0, 0.0, coding);
            made(Vexo_createSignalInstance, db, nullptr, uint32_t(f.big), uint32_t(f.start), 0u, f.signal, pdu);
            fields.push_back(f);
        }
        return fields;
    }

    Network()
    {
        std::set<uint32_t> ids = {kUnknownStandard, kUnknownExtended};
        for (int i = 0; i < kFrames; ++i) {
            FrameSpec spec{};
            spec.flags = i % 3 == 0 ? Q3_FLAG_CANEXTENDED : Q3_FLAG_CANSTANDARD;
            do
                spec.id = uint32_t(uniform(0, spec.flags != 0 ? 0x1FFFFFFF : 0x7FF));
            while (!ids.insert(spec.id).second || (spec.id & 0x7F0) == kMaskedCode);
            spec.length = i == kMuxFrame || i == 0 ? 8 : uint32_t(uniform(1, 8));
            spec.eitherForm = i % 5 == 0 && i != 0;
            VexoNode *frame = made(Vexo_createFrame, db, nullptr, spec.length), *pdu = nullptr;
            if (i == 0)
                std::tie(spec.id, spec.flags) = std::make_pair(kMaskedCode, uint32_t(Q3_FLAG_CANSTANDARD));
            spec.triggering = i == 0 ? made(Vexo_createMaskedIdentifierTriggering, db, nullptr, 0x7F0u, kMaskedCode,
                                            0u, frame, nullptr, channel)
                                     : made(Vexo_createIdentifierBasedTriggering, db, nullptr, spec.id,
                                            spec.eitherForm ? Q3_FLAG_CANSTD_OR_EXT : spec.flags, frame, nullptr,
                                            channel);
            if (i != kMuxFrame) {
                spec.fields = layOut(pdu = signalPdu(nullptr), int(spec.length), 6);
            } else {
                // Switch in byte 0, static part byte 1, dynamic parts bytes 2-7 as one
                // little-endian or big-endian segment.
                pdu = made(Vexo_createMultiplexedPDU, db, nullptr, 64u, 0u, 0u, 8u, 0u, nullptr);
                VexoNode *part = made(Vexo_createMultiplexedPart, db, nullptr, 0u, pdu);
                EXPECT_EQ(Vexo_setStaticPart(pdu, part), S_OK);
                EXPECT_EQ(Vexo_addSegment(part, 0, 8, 8), S_OK);
                VexoNode *fixed = signalPdu(part);
                while (spec.fields.empty())
                    spec.fields = layOut(fixed, 1, 1);
                for (uint32_t code = 0; code < 4; ++code) {
                    Part p{code % 2 == 0 ? 16 : 23, code % 2 == 1, {}};
                    part = made(Vexo_createMultiplexedPart, db, nullptr, code, pdu);
                    EXPECT_EQ(Vexo_addDynamicParts(pdu, 1, &part), S_OK);
                    EXPECT_EQ(Vexo_addSegment(part, p.segmentBig, uint32_t(p.segmentStart), 48), S_OK);
                    p.fields = layOut(signalPdu(part), 6, 3);
                    spec.parts.push_back(p);
                }
            }
            made(Vexo_createPDUInstance, db, nullptr, 0u, 0u, 0u, pdu, frame);
            frames.push_back(spec);
        }
    }
    ~Network() { Vexo_destroy(db); }
};

TEST(DecoderNetwork, StreamOfFramesDecodesToTheRawValuesReadBitByBit)
{
    Network net;
    VexoDecodeState *state = nullptr;  // one state, reused frame after frame
    size_t decoded = 0;
    for (int n = 0; n < 3000; ++n) {
        SCOPED_TRACE(n);
        const FrameSpec &spec = net.frames[size_t(net.uniform(0, kFrames - 1))];
        const int twist = net.uniform(0, 19);  // 0: unknown identifier, 1: one byte too many
        std::vector<uint8_t> data(spec.length + (twist == 1 ? 1 : 0));
        for (uint8_t &b : data)
            b = uint8_t(net.rng());
        uint32_t id = spec.id | (&spec == &net.frames[0] ? uint32_t(net.uniform(0, 15)) : 0);
        const uint32_t flags = spec.eitherForm ? uint32_t(net.uniform(0, 1)) : spec.flags;
        // The raw value of each field, read bit by bit from the data (or a part's assembly).
        std::vector<std::pair<VexoNode *, uint64_t>> want;
        const auto read = [&](const std::vector<Field> &fields, const uint8_t *image) {
            for (const Field &f : fields)
                want.emplace_back(f.signal, getField(image, f.start, f.bits, f.big));
        };
        const auto code = uint32_t(net.uniform(0, 4));  // 4 selects no part
        if (!spec.parts.empty())
            data[0] = uint8_t(code);
        read(spec.fields, data.data() + (spec.parts.empty() ? 0 : 1));
        if (code < spec.parts.size()) {
            const Part &part = spec.parts[code];
            const uint64_t assembled = getField(data.data(), part.segmentStart, 48, part.segmentBig);
            read(part.fields, reinterpret_cast<const uint8_t *>(&assembled));  // little-endian machines
        }
        if (twist == 0)
            id = flags != 0 ? kUnknownExtended : kUnknownStandard;
        if (twist <= 1)
            want.clear();

        ASSERT_EQ(Vexo_decodeMessage(net.channel, id, flags, uint32_t(data.size()), data.data(), &state), S_OK);
        VexoNode *triggering = nullptr;
        ASSERT_EQ(Vexo_decodeNextFrametriggering(state, &triggering), twist <= 1 ? S_FALSE : S_OK);
        EXPECT_EQ(triggering, twist <= 1 ? nullptr : spec.triggering);
        std::vector<std::pair<VexoNode *, uint64_t>> got;
        VexoDecodedSignal record = {};
        while (Vexo_decodeNextSignal(state, nullptr, &record) == S_OK) {
            got.emplace_back(record.signal, record.rawValue);
            EXPECT_EQ(record.frameTriggering, triggering);
        }
        EXPECT_EQ(got, want);
        decoded += got.size();
    }
    EXPECT_EQ(Vexo_destroyDecodeEnum(state), S_OK);
    EXPECT_GT(decoded, 6000u);
}

}  // namespace
