// libFuzzer target for the batch decoder: the input builds a CAN channel (frames of any length, shared and masked
// identifiers, multiplexed PDUs, fields of 1 to 64 bits, linear codings of assorted scales, offsets and ranges, value
// descriptions) and lists frames, decoded with and without vector instructions into roomy or tight buffers.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/decode_records.h"
#include "fuzz_support.h"
#include "vexo/testing.h"
#include "vexo/vexo.h"

namespace {

template <class... Params, class... Args>
VexoNode *make(HRESULT (*create)(Params...), Args... args)
{
    VexoNode *node = nullptr;
    create(args..., &node);
    return node;
}

struct Key { uint32_t identifier, flags, length; };  // what a triggering receives

VexoNode *coding(Program &p, VexoNode *db)
{
    static const uint32_t kEncodings[] = {Q3_ENCODING_DIRECT, Q3_ENCODING_2COMPL, Q3_ENCODING_DIRECT,
        Q3_ENCODING_2COMPL, Q3_ENCODING_IEEE, Q3_ENCODING_ASCII, Q3_ENCODING_PACKED_BCD, Q3_ENCODING_1COMPL};
    const bool plain = p.below(2) == 0;  // a linear rule over every value of the field: the common case
    const uint32_t encoding = kEncodings[p.below(plain ? 2 : 8)], bits = 1 + p.below(64);
    VexoNode *c = make(Vexo_createCoding, db, nullptr, bits, encoding, nullptr), *step = nullptr;
    for (uint32_t i = !plain && p.below(4) == 0 ? 1 + p.below(2) : 0; i > 0; --i) {  // value descriptions
        static const char16_t *const kTexts[] = {u"off", u"on", u"", u"x\u00e9\u20ac"};
        VexoStringSlot *slot = nullptr;
        const uint32_t language = p.below(2);  // the plan's, or another (its text then stands in)
        Vexo_stringCreateSlot(db, language, kTexts[p.below(4)], &slot);
        const double value = double(p.below(4)) - 1;
        Vexo_addRange(step = make(Vexo_createMappedTextComputation, db, nullptr, slot), value, value, 3);
        Vexo_addInternalToPhysicalComputations(c, 1, &step);
    }
    if (plain || p.below(6) != 0) {
        static const double kScales[] = {1, 0.1, -2.5, 1e-9, 3e8, 0.25, 1.0 / 3}, kOffsets[] = {0, -40, 0.5, -1e5, 7};
        const uint32_t s = p.below(8), o = p.below(6);  // from the tables, or any
        const double scale = s < 7 ? kScales[s] : p.real(), offset = o < 5 ? kOffsets[o] : p.real();
        step = make(Vexo_createLinearComputation, db, nullptr, scale, offset);
        const bool twos = encoding == Q3_ENCODING_2COMPL;
        const double top = bits >= 64 ? 18446744073709551616.0 : double(uint64_t(1) << bits);
        const double low = twos ? -top / 2 : 0, high = (twos ? top / 2 : top) - 1;
        const uint32_t range = plain ? 0 : p.below(8);  // the whole field, else open at an end, narrower or wider
        Vexo_addRange(step, range == 5 ? low + 1 : range == 6 ? low - 1e3 : low, range == 7 ? high / 2 : high,
                      range == 4 ? p.below(4) : 3);
        Vexo_addInternalToPhysicalComputations(c, 1, &step);
    }
    return c;
}

void placeSignals(Program &p, VexoNode *db, VexoNode *pdu, uint32_t length, std::vector<VexoNode *> &signals)
{
    for (uint32_t i = p.below(13); i > 0; --i) {
        if (signals.empty() || p.below(6) != 0)
            signals.push_back(make(Vexo_createSignal, db, nullptr, 0u, 0.0, 0.0, 0.0, coding(p, db)));
        const uint32_t position = p.below(16) == 0 ? p.word() : p.word() % (8 * length + 8), big = p.below(2);
        make(Vexo_createSignalInstance, db, nullptr, big, position, 0u, signals[p.below(signals.size())], pdu);
    }
}

// A frame with one PDU instance, a signal PDU or (now and then) a multiplexed one, and its triggering.
void addFrame(Program &p, VexoNode *db, VexoNode *channel, std::vector<Key> &keys, std::vector<VexoNode *> &signals)
{
    const uint32_t length = p.below(4) == 0 ? p.below(65) : p.below(3) == 0 ? p.below(9) : 8;
    VexoNode *frame = make(Vexo_createFrame, db, nullptr, length);
    VexoNode *instance = make(Vexo_createPDUInstance, db, nullptr, 0u, 0u, 0u, nullptr, frame);
    if (p.below(5) != 0) {
        placeSignals(p, db, make(Vexo_createSignalPDU, db, nullptr, 8 * length, instance), length, signals);
    } else {
        const uint32_t big = p.below(2), position = p.word() % (8 * length + 4), bits = 1 + p.below(8);
        VexoNode *mux = make(Vexo_createMultiplexedPDU, db, nullptr, 8 * length, big, position, bits, 0u, instance);
        for (uint32_t i = 1 + p.below(3); i > 0; --i) {
            VexoNode *part = make(Vexo_createMultiplexedPart, db, nullptr, p.below(4), mux);
            placeSignals(p, db, make(Vexo_createSignalPDU, db, nullptr, 8 * length, part), length, signals);
            const uint32_t role = p.below(4);
            role == 0 ? Vexo_setStaticPart(mux, part) : role == 1 ? Vexo_setElsePart(mux, part)
                                                                  : Vexo_addDynamicParts(mux, 1, &part);
        }
    }
    const Key key{!keys.empty() && p.below(6) == 0 ? keys[p.below(keys.size())].identifier
                  : p.below(4) == 0                ? p.word() & 0x1FFFFFFF
                                                   : p.word() & 0x7FF,
                  p.below(3), length};  // standard, extended, either
    if (const uint32_t mask = p.below(8) == 0 ? p.word() : 0)
        make(Vexo_createMaskedIdentifierTriggering, db, nullptr, mask, key.identifier & mask, key.flags, frame, nullptr,
             channel);
    else
        make(Vexo_createIdentifierBasedTriggering, db, nullptr, key.identifier, key.flags, frame, nullptr, channel);
    keys.push_back(key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Program p{data, size};
    VexoNode *db = make(Vexo_create, nullptr), *channel = make(Vexo_createChannel, db, nullptr, nullptr);
    std::vector<Key> keys;
    std::vector<VexoNode *> signals;
    for (uint32_t i = 1 + p.below(6); i > 0; --i)
        addFrame(p, db, channel, keys, signals);
    const bool tight = p.below(4) == 0;
    const uint32_t capacity = tight ? p.below(24) : 4096, textCapacity = tight ? p.below(48) : 65536;
    std::vector<VexoFrame> frames;
    std::vector<std::unique_ptr<uint8_t[]>> bytes;
    while (!p.done() && frames.size() < 128) {
        const uint32_t how = p.byte();
        // Mostly what a triggering receives, now and then with another length or type; else anything.
        const Key key = keys.empty() || how % 8 == 0 ? Key{p.word(), how >> 3 & 1, p.below(65)}
                                                      : keys[p.below(keys.size())];
        VexoFrame &f = frames.emplace_back(
            VexoFrame{key.identifier, (key.flags ^ how >> 5) & 1, how & 16 ? p.below(65) : key.length, 0, nullptr});
        f.data = bytes.emplace_back(new uint8_t[f.length]).get();
        for (uint32_t i = 0; i < f.length; ++i)
            bytes.back()[i] = uint8_t(p.byte());
        f.data = how >= 0xF0 ? nullptr : f.data;
    }
    for (int vectors = 0; vectors < 2; ++vectors) {
        Vexo_allowVectorDecoding(vectors);
        VexoDecodePlan *plan = nullptr;
        failIf(Vexo_createDecodePlan(channel, nullptr, 0, &plan) != S_OK, "no plan");
        size_t compared = 0;
        const std::string difference =
            batchDifference(db, channel, false, plan, frames, nullptr, 0, capacity, textCapacity, compared);
        failIf(!difference.empty(), difference.c_str());
        Vexo_destroyDecodePlan(plan);
    }
    Vexo_destroy(db);
    return 0;
}
