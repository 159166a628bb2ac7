// Frame decoder through the public interface: triggering order, the identifier word, multiplexed
// parts and segments, ASCII text, filters, skipped instances, nesting limits, the channel's own
// PDU instances, the state's lifecycle. frame_program_test.cpp checks the matching rule itself.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "made.h"
#include "vexo/vexo.h"

namespace {

constexpr uint32_t kLE = Q3_BYTEORDER_LITTLEENDIAN, kBE = Q3_BYTEORDER_BIGENDIAN;
constexpr uint32_t kStd = Q3_FLAG_CANSTANDARD, kExt = Q3_FLAG_CANEXTENDED, kEither = Q3_FLAG_CANSTD_OR_EXT;

uint32_t u32(int32_t v) { return static_cast<uint32_t>(v); }

struct Net {
    VexoNode *db = made(Vexo_create, nullptr), *channel = made(Vexo_createChannel, db, nullptr, nullptr);
    ~Net() { Vexo_destroy(db); }

    VexoNode *frame(uint32_t length) { return made(Vexo_createFrame, db, nullptr, length); }
    VexoNode *byId(uint32_t id, uint32_t flags, VexoNode *frame)
    {
        return made(Vexo_createIdentifierBasedTriggering, db, nullptr, id, flags, frame, nullptr, channel);
    }
    VexoNode *masked(uint32_t mask, uint32_t code, uint32_t flags, VexoNode *frame)
    {
        return made(Vexo_createMaskedIdentifierTriggering, db, nullptr, mask, code, flags, frame, nullptr, channel);
    }
    // A frame of `length` bytes that every received frame of that length matches.
    VexoNode *anyFrame(uint32_t length) { VexoNode *f = frame(length); return masked(0, 0, kEither, f), f; }
    VexoNode *signalPdu(VexoNode *referrer = nullptr) { return made(Vexo_createSignalPDU, db, nullptr, 64u, referrer); }
    VexoNode *muxPdu(int32_t position, uint32_t length, uint32_t order = kLE, VexoNode *referrer = nullptr)
    {
        return made(Vexo_createMultiplexedPDU, db, nullptr, 64u, order, u32(position), length, 0u, referrer);
    }
    VexoNode *instance(VexoNode *pdu, VexoNode *owner, int32_t bitpos = 0)
    {
        return made(Vexo_createPDUInstance, db, nullptr, kLE, u32(bitpos), 0u, pdu, owner), pdu;
    }
    // A multiplexed part of mux in a role, holding a new signal PDU (given in *pdu).
    enum Role { Dynamic, Static, Else };
    VexoNode *part(VexoNode *mux, Role role, uint32_t code, VexoNode **pdu)
    {
        VexoNode *p = made(Vexo_createMultiplexedPart, db, nullptr, code, mux);
        EXPECT_EQ(role == Dynamic ? Vexo_addDynamicParts(mux, 1, &p)
                  : role == Static ? Vexo_setStaticPart(mux, p) : Vexo_setElsePart(mux, p), S_OK);
        if (pdu != nullptr)
            *pdu = signalPdu(p);
        return p;
    }
    VexoNode *place(VexoNode *signal, VexoNode *pdu, int32_t bitpos, const VexoChar *id = nullptr)
    {
        return made(Vexo_createSignalInstance, db, id, kLE, u32(bitpos), 0u, signal, pdu);
    }
    // A new signal `id` with a coding of its own, placed in pdu as `instanceId`.
    VexoNode *add(VexoNode *pdu, int32_t bitpos, uint32_t bits = 8, uint32_t encoding = Q3_ENCODING_DIRECT,
                  const VexoChar *id = nullptr, const VexoChar *instanceId = nullptr)
    {
        VexoNode *coding = made(Vexo_createCoding, db, nullptr, bits, encoding, nullptr);
        VexoNode *s = made(Vexo_createSignal, db, id, 0u, 0.0, 0.0, 0.0, coding);
        return place(s, pdu, bitpos, instanceId), s;
    }
    // A multiplexed PDU (switch at position, |bits| long, big-endian if bits < 0) at bit `shift` of a frame.
    VexoNode *muxIn(uint32_t length, int32_t shift = 0, int32_t position = 0, int32_t bits = 0)
    {
        return instance(muxPdu(position, u32(bits < 0 ? -bits : bits), bits < 0 ? kBE : kLE), anyFrame(length), shift);
    }
    VexoNode *plainPdu(uint32_t frameLength) { return instance(signalPdu(), anyFrame(frameLength)); }
};

struct Got { VexoNode *signal; uint64_t raw; HRESULT hr; std::string text; };

// Decodes a frame the way the Lua binding's iterator does and collects every signal.
std::vector<Got> decodeAll(const Net &net, uint32_t id, uint32_t flags, const std::vector<uint8_t> &data,
                           const VexoFilter *filter = nullptr, char *text = nullptr, uint32_t capacity = 0)
{
    VexoDecodeState *state = nullptr;
    EXPECT_EQ(Vexo_decodeMessage(net.channel, id, flags, uint32_t(data.size()), data.data(), &state), S_OK);
    std::vector<Got> out;
    VexoDecodedSignal record = {};
    record.text = text;
    record.textCapacity = capacity;
    while (Vexo_decodeNextFrametriggering(state, nullptr) >= 0) {
        HRESULT hr;
        while ((hr = Vexo_decodeNextSignal(state, filter, &record)) >= 0)
            out.push_back({record.signal, record.rawValue, hr,
                           hr == S_FALSE ? std::string(text, record.textLength) : ""});
        EXPECT_EQ(hr, VEXO_E_NOMOREITEMS);
    }
    EXPECT_EQ(Vexo_destroyDecodeEnum(state), S_OK);
    return out;
}

template <class T> std::vector<T> each(T Got::*field, const std::vector<Got> &got)
{
    std::vector<T> out;
    for (const Got &g : got)
        out.push_back(g.*field);
    return out;
}

TEST(Decoder, GivesMatchesInListOrderThenTheChannelsOwnInstances)
{
    Net net;
    VexoNode *frame = net.frame(2), *first = net.byId(0x10, kStd, frame);
    net.byId(0x11, kStd, frame);
    VexoNode *second = net.masked(0x7F0, 0x10, kStd, frame);
    VexoNode *a = net.add(net.instance(net.signalPdu(), frame), 0);
    VexoNode *b = net.add(net.instance(net.signalPdu(), net.channel), 8);

    const uint8_t data[2] = {0x11, 0x22};
    VexoDecodeState *state = nullptr;
    ASSERT_EQ(Vexo_decodeMessage(net.channel, 0x10, kStd, 2, data, &state), S_OK);
    // Each call of Vexo_decodeNextFrametriggering: its result and the triggering it gives
    // (the frame: left alone), then the one signal decoded, if any, and the triggering it names.
    struct Step { HRESULT next; VexoNode *given, *signal; uint64_t raw; VexoNode *named; };
    const Step steps[] = {
        {S_OK, first, a, 0x11, first}, {S_OK, second, a, 0x11, second}, {S_FALSE, nullptr, nullptr, 0, nullptr},
        {S_OK, frame, b, 0x22, nullptr},  // the channel's own instances
        {VEXO_E_NOMOREITEMS, frame, nullptr, 0, nullptr},
    };
    for (const Step &s : steps) {
        VexoNode *got = frame;
        VexoDecodedSignal record = {};
        ASSERT_EQ(Vexo_decodeNextFrametriggering(state, &got), s.next);
        EXPECT_EQ(got, s.given);
        if (s.signal != nullptr) {
            ASSERT_TRUE(Vexo_decodeNextSignal(state, nullptr, &record) == S_OK && record.signal == s.signal
                        && record.rawValue == s.raw && record.frameTriggering == s.named);
            EXPECT_EQ(Vexo_getFrameTriggering(state, &got), s.named != nullptr ? S_OK : S_FALSE);
            EXPECT_EQ(got, s.named);
        }
        EXPECT_TRUE(s.next == S_FALSE || Vexo_decodeNextSignal(state, nullptr, &record) == VEXO_E_NOMOREITEMS);
    }
    Vexo_destroyDecodeEnum(state);
}

// A part of one segment (then padding): at bits -32 to -1 it reads the identifier word; at 0 and up it must equal what
// Q3bit_copy makes of the frame zero-extended (kCopy): bits beyond the data read as 0 and are never read from memory.
TEST(Decoder, SegmentsReadTheIdentifierWordAndTheFrame)
{
    constexpr uint64_t kCopy = ~0ull;
    struct Case { const char *what; uint32_t id, flags; int32_t position, length; uint64_t want; };  // length < 0: BE
    const Case cases[] = {
        {"standard word", 0x123, kStd, -32, 32, 0x24600000}, {"extended word", 0x123, kExt, -32, 32, 0x918},
        {"standard, all ones", 0x7FF, kStd, -32, 32, 0xFFE00000},
        {"extended, all ones", 0x1FFFFFFF, kExt, -32, 32, 0xFFFFFFF8},
        {"standard identifier at -11", 0x5A5, kStd, -11, 11, 0x5A5},
        {"extended identifier at -29", 0x1ABCDEF5, kExt, -29, 29, 0x1ABCDEF5},
        {"bit -1 is the top bit", 0x400, kStd, -1, 1, 1}, {"big-endian inside one byte", 0x7F5, kStd, -9, -3, 0x5},
        {"below -32 reads nothing", 0x7FF, kStd, -40, 8, 0},
        {"past bit -1 reads zeros, not the frame", 0x7FF, kStd, -4, 8, 0xF},
        {"little-endian inside", 0, kStd, 3, 13, kCopy}, {"big-endian inside", 0, kStd, 12, -8, kCopy},
        {"big-endian word", 0, kStd, 7, -16, kCopy}, {"little-endian, 56 bits", 0, kStd, 0, 56, kCopy},
        {"little-endian past the end", 0, kStd, 124, 12, kCopy}, {"big-endian past the end", 0, kStd, 125, -12, kCopy},
        {"wholly past the end", 0, kStd, 140, 8, kCopy}, {"big-endian 72 bits in two chunks", 0, kStd, 71, -72, kCopy},
        {"big-endian 72 bits, chunk below 0", 0, kStd, 63, -72, kCopy},
    };
    const std::vector<uint8_t> frame = {0x3C, 0xA5, 0x0F, 0x96, 0x81, 0x7E, 0xC3, 0x5A,
                                        0x12, 0xF0, 0xE1, 0x2D, 0xB4, 0x69, 0x99, 0xC7};
    for (const Case &c : cases) {
        // One segment, then padding: for the word's fields zeros from past the frame's end
        // up to 32 bits, else the frame's first byte. One signal reads the whole part.
        const int32_t bits = c.length < 0 ? -c.length : c.length, padding = c.want == kCopy ? 8 : 32 - bits;
        Net net;
        VexoNode *pdu = nullptr, *p = net.part(net.muxIn(16), Net::Static, 0, &pdu);
        EXPECT_EQ(Vexo_addSegment(p, c.length < 0 ? kBE : kLE, u32(c.position), u32(bits)), S_OK);
        EXPECT_EQ(Vexo_addSegment(p, kLE, c.want == kCopy ? 0 : 256, u32(padding)), S_OK);
        net.add(pdu, 0, u32(bits + padding));
        uint64_t want = c.want;
        if (c.want == kCopy) {
            uint8_t padded[64] = {}, reference[1024] = {}, low[8];
            std::memcpy(padded, frame.data(), frame.size());
            Q3bit_copy(reference, sizeof reference, 0, bits, padded, c.position, c.length);
            Q3bit_copy(reference, sizeof reference, bits, 8, padded, 0, 8);
            Q3bit_extract(low, reference, sizeof low, 0, bits + 8);
            std::memcpy(&want, low, sizeof want);
        }
        const auto got = decodeAll(net, c.id, c.flags, frame);
        EXPECT_TRUE(got.size() == 1 && got[0].raw == want) << c.what << std::hex << ": want " << want;
    }
}

TEST(Decoder, SwitchSelectsOnePartAfterTheStaticPart)
{
    // Parts: static S (two nibble segments), dynamic 2 (big-endian segment), 1 (little-endian segment) and 0 (none),
    // added out of order as the parts are kept sorted, and else E. Parts without segments read the frame's bytes.
    // shift: the instance's bit position (8 puts a byte before the PDU); switch: 8 bits at 0 unless given, BE if < 0.
    using Named = std::vector<std::pair<char, uint64_t>>;  // signals by part name
    struct Case { const char *what; bool withElse; int32_t shift, position, bits; uint32_t id, code; Named want; };
    const Case cases[] = {
        {"code 1: little-endian segment", true, 0, 0, 8, 0, 1, {{'S', 0xCB}, {'1', 0x1234}}},
        {"code 2: big-endian segment", true, 0, 0, 8, 0, 2, {{'S', 0xCB}, {'2', 0x3412}}},
        {"no part for the code: else part", true, 0, 0, 8, 0, 3, {{'S', 0xCB}, {'E', 0x77}}},
        {"no part and no else part: static part only", false, 0, 0, 8, 0, 3, {{'S', 0xCB}}},
        {"instance bit position shifts switch and segments", true, 8, 0, 8, 0, 2, {{'S', 0xCB}, {'2', 0x3412}}},
        {"but not the signals of a part without segments", true, 8, 0, 8, 0, 9, {{'S', 0xCB}, {'E', 0x12}}},
        {"3 bits at -11: an identifier's low bits", true, 0, -11, 3, 0x121, 0x5A, {{'S', 0xCB}, {'1', 0x1234}}},
        {"big-endian, most significant bit at -9", true, 0, -9, -3, 0x122, 0x5A, {{'S', 0xCB}, {'2', 0x3412}}},
        {"below -32 reads 0", true, 0, -40, 3, 0x121, 0x5A, {{'S', 0xCB}, {'0', 0x5A}}},
        {"past the data reads 0", true, 0, 72, 4, 0, 0x5A, {{'S', 0xCB}, {'0', 0x5A}}},
        {"zero length reads 0", true, 0, 0, 0, 0, 0x5A, {{'S', 0xCB}, {'0', 0x5A}}},
        {"4 bits at 4", true, 0, 4, 4, 0, 0x15, {{'S', 0xCB}, {'1', 0x1234}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Net net;
        VexoNode *mux = net.muxIn(9, c.shift, c.position, c.bits);
        std::map<VexoNode *, char> names;
        auto addPart = [&](char name, Net::Role role, uint32_t code, uint32_t bits, int32_t at) {
            VexoNode *pdu = nullptr, *part = net.part(mux, role, code, &pdu);
            names[net.add(pdu, at, bits)] = name;
            return part;
        };
        VexoNode *fixed = addPart('S', Net::Static, 0, 8, 0);
        EXPECT_EQ(Vexo_addSegment(fixed, kLE, 32, 4), S_OK);  // low nibble of byte 4
        EXPECT_EQ(Vexo_addSegment(fixed, kLE, 44, 4), S_OK);  // high nibble of byte 5
        EXPECT_EQ(Vexo_addSegment(addPart('2', Net::Dynamic, 2, 16, 0), kBE, 15, 16), S_OK);
        EXPECT_EQ(Vexo_addSegment(addPart('1', Net::Dynamic, 1, 16, 0), kLE, 8, 16), S_OK);
        addPart('0', Net::Dynamic, 0, 8, 0);
        if (c.withElse)
            addPart('E', Net::Else, 0, 8, 24);
        std::vector<uint8_t> data = {uint8_t(c.code), 0x34, 0x12, 0x77, 0xAB, 0xCD, 0, 0, 0};
        data.insert(data.begin(), size_t(c.shift / 8), 0xEE);
        data.resize(9);
        Named got;
        for (const Got &g : decodeAll(net, c.id, kStd, data))
            got.emplace_back(names[g.signal], g.raw);
        EXPECT_EQ(got, c.want);
    }
}

TEST(Decoder, AsciiSignalIsClippedToTheTextBuffer)
{
    struct Case { const char *what; bool buffer; uint32_t capacity; std::vector<std::string> want; };
    const Case cases[] = {
        {"4 bytes of room", true, 4, {"ABCD", "#"}},  // "#": the numeric signal after the text
        {"more room than text", true, 16, {"ABCDEFGH", "#"}}, {"no room", true, 0, {"", "#"}},
        {"no buffer: skipped", false, 0, {"#"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Net net;
        VexoNode *pdu = net.plainPdu(9);
        net.add(pdu, 0, 64, Q3_ENCODING_ASCII);
        net.add(pdu, 64);
        char text[16] = {};
        std::vector<std::string> texts;
        for (const Got &g : decodeAll(net, 0, kStd, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x42}, nullptr,
                                      c.buffer ? text : nullptr, c.capacity)) {
            texts.push_back(g.hr == S_FALSE ? g.text : "#");
            EXPECT_EQ(g.raw, g.hr == S_OK ? 0x42u : 0u);
        }
        EXPECT_EQ(texts, c.want);
    }
}

TEST(Decoder, FilterSelectsBySignalOrByInstance)
{
    Net net;
    VexoNode *pdu = net.plainPdu(8);
    const VexoChar *names[] = {u"A", u"B", u"C", u"D", u"E"}, *instanceNames[] = {u"iA", u"iB", u"iC", u"iD", u"iE"};
    std::vector<VexoNode *> s;
    for (int i = 0; i < 5; ++i)
        s.push_back(net.add(pdu, 8 * i, 8, Q3_ENCODING_DIRECT, names[i], instanceNames[i]));
    struct Case { const char *what; const VexoChar *ids; uint32_t mode; std::vector<VexoNode *> want; };
    const Case cases[] = {
        {"an instance", u"iC\0", 0, {s[2]}}, {"a signal and another's instance", u"E\0iA\0", 0, {s[0], s[4]}},
        {"nothing named", u"X\0", 0, {}},
        {"inverted: neither B nor its instance", u"B\0iB\0", VEXO_FILTER_INVERT, {s[0], s[2], s[3], s[4]}},
        {"inverted: B's instance is still selected", u"B\0", VEXO_FILTER_INVERT, s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VexoFilter *filter = nullptr;
        ASSERT_EQ(Vexo_createIdListFilterW(net.db, c.mode, c.ids, &filter), S_OK);
        EXPECT_EQ(each(&Got::signal, decodeAll(net, 0, kStd, std::vector<uint8_t>(8, 1), filter)), c.want);
        Vexo_destroyFilter(filter);
    }
}

TEST(Decoder, BrokenInstanceIsSkippedAlone)
{
    Net net;
    // Broken instances sit in the static part, met while the selected part is pending: none after them may be lost.
    VexoNode *mux = net.muxIn(8), *fixed = nullptr, *selected = nullptr;
    net.part(mux, Net::Static, 0, &fixed);
    net.part(mux, Net::Dynamic, 0, &selected);
    VexoNode *first = net.add(fixed, 0);
    net.place(nullptr, fixed, 8);                                                      // no signal
    net.place(made(Vexo_createSignal, net.db, nullptr, 0u, 0.0, 0.0, 0.0, nullptr), fixed, 8);  // no coding
    net.add(fixed, -8);                                                                // negative bit position
    net.add(fixed, 60);                                                                // runs past the data
    net.add(fixed, 16, 8, Q3_ENCODING_ASCII);                                          // ASCII without buffer
    VexoNode *last = net.add(fixed, 8), *other = net.add(selected, 16);
    const auto got = decodeAll(net, 0, kStd, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(each(&Got::signal, got), (std::vector<VexoNode *>{first, last, other}));
    EXPECT_EQ(each(&Got::raw, got), (std::vector<uint64_t>{1, 2, 3}));
}

TEST(Decoder, PartsNestSixtyFourDeepShareAPduRefuseCyclesAndReadTheirWholeAssembly)
{
    // Multiplexed PDUs chained through their static parts (the first is level 1); the signal PDU is level depth + 1.
    for (int depth : {62, 63, 64, 70}) {
        SCOPED_TRACE(depth);
        Net net;
        VexoNode *mux = net.muxIn(1), *pdu = nullptr;
        for (int i = 1; i < depth; ++i)
            mux = net.muxPdu(0, 0, kLE, net.part(mux, Net::Static, 0, nullptr));
        net.part(mux, Net::Static, 0, &pdu);
        net.add(pdu, 0);
        EXPECT_EQ(decodeAll(net, 0, kStd, {7}).size(), depth < 64 ? 1u : 0u);
    }
    // Two parts holding the same PDU are siblings, not a cycle: the static part and the else part
    // (switch 5 at bit 8 selects no dynamic part) both give the signal at bit 0.
    {
        Net net;
        VexoNode *mux = net.muxIn(8, 0, 8, 4), *shared = nullptr;
        net.part(mux, Net::Static, 0, &shared);
        VexoNode *other = net.part(mux, Net::Else, 0, nullptr);
        ASSERT_EQ(Vexo_setReference(other, shared), S_OK);
        ASSERT_EQ(Vexo_addParents(shared, 1, &other), S_OK);
        VexoNode *s = net.add(shared, 0);
        const auto got = decodeAll(net, 0, kStd, {0x12, 0x05, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(each(&Got::signal, got), (std::vector<VexoNode *>{s, s}));
        EXPECT_EQ(each(&Got::raw, got), (std::vector<uint64_t>{0x12, 0x12}));
    }
    // One 8-bit segment: a signal past the assembled byte reads zeros; one past the 1024-byte assembly is skipped.
    struct Case { const char *what; int32_t bitpos; uint32_t bits; std::vector<uint64_t> raws; };
    const Case cases[] = {
        {"inside the segment", 0, 8, {0xAB}}, {"upper half past the segment", 4, 8, {0x0A}},
        {"wholly past the segment", 100, 16, {0}}, {"last bit of the assembly", 8 * 1024 - 1, 1, {0}},
        {"past the assembly", 8 * 1024 - 4, 8, {}},
    };
    for (const Case &c : cases) {
        Net net;
        VexoNode *pdu = nullptr;
        ASSERT_EQ(Vexo_addSegment(net.part(net.muxIn(2), Net::Static, 0, &pdu), kLE, 0, 8), S_OK);
        net.add(pdu, c.bitpos, c.bits);
        EXPECT_EQ(each(&Got::raw, decodeAll(net, 0, kStd, {0xAB, 0xCD})), c.raws) << c.what;
    }
    // A part holding its own multiplexed PDU is a cycle: skipped, the other parts decoded.
    Net net;
    VexoNode *mux = net.muxIn(1), *pdu = nullptr;
    ASSERT_EQ(Vexo_setReference(net.part(mux, Net::Static, 0, nullptr), mux), S_OK);
    net.part(mux, Net::Dynamic, 0, &pdu);
    VexoNode *s = net.add(pdu, 0);
    EXPECT_EQ(each(&Got::signal, decodeAll(net, 0, kStd, {7})), std::vector<VexoNode *>{s});
}

TEST(Decoder, StateChecksArgumentsAndOwnership)
{
    Net net;
    VexoNode *pdu = net.plainPdu(1);
    net.add(pdu, 0);
    const uint8_t data[1] = {9};
    VexoDecodedSignal record = {};
    VexoDecodeState *state = nullptr;
    EXPECT_EQ(Vexo_decodeMessage(net.channel, 0, 0, 1, data, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_decodeMessage(pdu, 0, 0, 1, data, &state), E_INVALIDARG);
    EXPECT_EQ(state, nullptr);

    // A caller's block: decoded in place, marked but never freed on destruction.
    std::vector<uint64_t> block((Vexo_getDecodeStateSize() + 7) / 8, ~uint64_t(0));
    auto *own = reinterpret_cast<VexoDecodeState *>(block.data());
    auto *misaligned = reinterpret_cast<VexoDecodeState *>(reinterpret_cast<char *>(block.data()) + 4);
    EXPECT_EQ(Vexo_decodeMessage(net.channel, 0, 0, 1, data, &misaligned), E_INVALIDARG);
    EXPECT_EQ(Vexo_decodeNextSignal(own, nullptr, &record), E_INVALIDARG);  // not started yet
    state = own;
    ASSERT_TRUE(Vexo_decodeMessage(net.channel, 0, 0, 1, data, &state) == S_OK && state == own);
    EXPECT_EQ(Vexo_decodeNextFrametriggering(state, nullptr), S_OK);
    EXPECT_EQ(Vexo_decodeNextSignal(state, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_decodeNextSignal(state, reinterpret_cast<const VexoFilter *>(pdu), &record), E_INVALIDARG);
    EXPECT_EQ(Vexo_getFrameTriggering(state, nullptr), E_INVALIDARG);
    EXPECT_TRUE(Vexo_decodeNextSignal(state, nullptr, &record) == S_OK && record.rawValue == 9u);
    EXPECT_EQ(Vexo_destroyDecodeEnum(state), S_OK);
    EXPECT_EQ(static_cast<uint32_t>(block[0]), 0xDEADBEEFu);
    EXPECT_EQ(Vexo_decodeNextFrametriggering(state, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_destroyDecodeEnum(state), E_INVALIDARG);

    // A library state is reused in place for the next frame, then freed (or the sanitizer build's leak check sees it).
    state = nullptr;
    ASSERT_EQ(Vexo_decodeMessage(net.channel, 0, 0, 1, nullptr, &state), S_OK);
    VexoDecodeState *allocated = state;
    EXPECT_EQ(Vexo_decodeNextFrametriggering(state, nullptr), S_OK);
    EXPECT_EQ(Vexo_decodeNextSignal(state, nullptr, &record), E_POINTER);
    ASSERT_TRUE(Vexo_decodeMessage(net.channel, 0, 0, 1, data, &state) == S_OK && state == allocated);
    EXPECT_EQ(Vexo_decodeNextFrametriggering(state, nullptr), S_OK);
    EXPECT_EQ(Vexo_decodeNextSignal(state, nullptr, &record), S_OK);
    EXPECT_EQ(Vexo_destroyDecodeEnum(state), S_OK);
    EXPECT_EQ(Vexo_destroyDecodeEnum(nullptr), E_INVALIDARG);
}

}  // namespace
