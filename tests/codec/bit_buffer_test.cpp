// Bit-buffer functions against a deliberately slow bit-at-a-time reference, plus the documented examples. Buffers are
// allocated at their exact stated size so that the sanitizer build catches any byte read or written outside them.
#include "vexo/codec.h"

#include "bit_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kSeed = 0x5EEDB17B0FULL;

Bytes randomBytes(std::mt19937_64 &rng, size_t count)
{
    Bytes out(count);
    for (uint8_t &b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

bool getBit(const uint8_t *buffer, int64_t n) { return (buffer[n >> 3] >> (n & 7)) & 1; }
void putBit(uint8_t *buffer, int64_t n, bool on)
{
    const auto mask = static_cast<uint8_t>(1u << (n & 7));
    buffer[n >> 3] = static_cast<uint8_t>(on ? buffer[n >> 3] | mask : buffer[n >> 3] & ~mask);
}
// Buffer bit holding bit k (0 = least significant) of a field.
int64_t fieldBit(int64_t start, int64_t bits, bool big, int64_t k)
{
    return big ? (((start ^ 7) + bits - 1 - k) ^ 7) : start + k;
}

// Insertion bit by bit: little-endian fields clipped at the end, big-endian bits outside
// skipped. Returns the bits written: all of them exactly when the field lies inside the buffer.
int32_t refInsert(Bytes &buffer, const uint8_t *value, int64_t start, int32_t length)
{
    const int64_t end = 8 * int64_t(buffer.size());
    const bool big = length < 0;
    int64_t bits = big ? -int64_t(length) : length;
    if (start < 0 || (!big && start > end))
        return 0;
    if (!big)
        bits = std::min(bits, end - start);
    int32_t written = 0;
    for (int64_t k = 0; k < bits; ++k) {
        const int64_t n = fieldBit(start, bits, big, k);
        if (n >= 0 && n < end) {
            putBit(buffer.data(), n, getBit(value, k));
            ++written;
        }
    }
    return written;
}

Bytes refExtract(const uint8_t *source, size_t valueLength, int64_t start, int32_t length)
{
    Bytes out(valueLength, 0);
    const bool big = length < 0;
    const int64_t bits = big ? -int64_t(length) : length;
    for (int64_t k = 0; k < bits && k < 8 * int64_t(valueLength); ++k)
        putBit(out.data(), k, getBit(source, fieldBit(start, bits, big, k)));
    return out;
}

// Copy by 64-bit chunks, bit by bit; chunk starts move by 64 towards the field's more
// significant end (+64 little-endian, -64 big-endian).
void refCopy(Bytes &destination, int32_t destinationStart, int32_t destinationBits, const Bytes &source,
             int32_t sourceStart, int32_t sourceBits)
{
    const bool destinationBig = destinationBits < 0, sourceBig = sourceBits < 0;
    const int64_t destinationTotal = std::abs(int64_t(destinationBits)), sourceTotal = std::abs(int64_t(sourceBits));
    for (int64_t c = 0; destinationTotal - 64 * c > 0; ++c) {
        const int64_t take = std::clamp<int64_t>(sourceTotal - 64 * c, 0, 64);
        const int64_t put = std::min<int64_t>(destinationTotal - 64 * c, 64);
        const int64_t sourceAt = sourceStart + (sourceBig ? -64 : 64) * c;
        const int64_t destinationAt = destinationStart + (destinationBig ? -64 : 64) * c;
        uint8_t chunk[8] = {};
        for (int64_t j = 0; j < take; ++j)
            putBit(chunk, j, getBit(source.data(), fieldBit(sourceAt, take, sourceBig, j)));
        refInsert(destination, chunk, destinationAt, static_cast<int32_t>(destinationBig ? -put : put));
    }
}

std::string describe(const char *what, bool big, int64_t start, int64_t bits)
{
    return std::string(what) + " seed=" + std::to_string(kSeed) + (big ? " big-endian" : " little-endian") +
           " start=" + std::to_string(start) + " bits=" + std::to_string(bits);
}

uint64_t le64(const uint8_t *p, size_t count = 8)
{
    uint64_t v = 0;
    for (size_t i = 0; i < count; ++i)
        v |= uint64_t(p[i]) << (8 * i);
    return v;
}
Bytes bytesOf(uint64_t v)
{
    Bytes out(8);
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
    return out;
}

// Extraction of the field from the buffer into a random value of random length.
void expectExtractMatches(std::mt19937_64 &rng, const Bytes &buffer, int32_t start, int32_t length)
{
    const size_t valueLength = rng() % ((std::abs(length) + 7) / 8 + 3);
    Bytes out = randomBytes(rng, valueLength);
    Q3bit_extract(out.data(), buffer.data(), uint32_t(valueLength), start, length);
    EXPECT_EQ(out, refExtract(buffer.data(), valueLength, start, length));
}

void expectCopyMatches(const Bytes &background, int32_t start, int32_t length, const Bytes &source,
                       int32_t sourceStart, int32_t sourceBits)
{
    SCOPED_TRACE("copy from " + std::to_string(sourceStart) + " length " + std::to_string(sourceBits));
    Bytes copied = background, wanted = background;
    Q3bit_copy(copied.data(), uint32_t(copied.size()), start, length, source.data(), sourceStart, sourceBits);
    refCopy(wanted, start, length, source, sourceStart, sourceBits);
    EXPECT_EQ(copied, wanted);
}

} // namespace

// Every start bit (including the first one past the end) and every length of 1 to 64 bits,
// both byte orders, in a 16-byte buffer over a random background (with a copy into the
// field); then the same in buffers shorter than, equal to and just above one 64-bit word.
TEST(BitBuffer, InsertAndExtractMatchBitwiseReference)
{
    std::mt19937_64 rng(kSeed);
    for (uint32_t size : {16u, 1u, 2u, 3u, 5u, 7u, 8u, 9u}) {
        for (bool big : {false, true}) {
            for (int32_t start = 0; start <= int32_t(8 * size); ++start) {
                for (int32_t bits = 1; bits <= 64; ++bits) {
                    SCOPED_TRACE(describe("insert/extract", big, start, bits) + " buffer=" + std::to_string(size));
                    const int32_t length = big ? -bits : bits;
                    const Bytes value = randomBytes(rng, (bits + 7) / 8); // random bits above the field too
                    const Bytes background = randomBytes(rng, size);
                    Bytes got = background, want = background, quick = background;
                    const int32_t written = Q3bit_insert(got.data(), value.data(), size, start, length);
                    const int32_t refWritten = refInsert(want, value.data(), start, length);
                    EXPECT_EQ(written, refWritten);
                    EXPECT_EQ(got, want);
                    // The one-window form the encoder uses writes the same.
                    const uint64_t bits64 = le64(value.data(), value.size());
                    EXPECT_EQ(vexo::codec::insertFieldQuickly(quick.data(), size, start, length, bits64), written);
                    EXPECT_EQ(quick, want);

                    const bool inside = refWritten == bits;
                    EXPECT_EQ(Q3bit_insideBuffer(size, start, length), inside ? 1 : 0);
                    if (inside) {
                        expectExtractMatches(rng, got, start, length);
                        uint64_t windowed = 0;
                        if (size >= 8 && vexo::codec::extractInWindow(got.data(), size, start, bits, big, &windowed)) {
                            EXPECT_EQ(windowed, le64(refExtract(got.data(), 8, start, length).data()));
                        }
                    }
                    if (size == 16) {  // a single-chunk copy from a random field of 0 to 64 bits inside
                        const auto sourceMagnitude = int32_t(rng() % 65);
                        const int32_t sourceBits = (rng() & 1) ? -sourceMagnitude : sourceMagnitude;
                        int32_t sourceStart;
                        do
                            sourceStart = int32_t(rng() % (8 * size));
                        while (!Q3bit_insideBuffer(size, sourceStart, sourceBits));
                        expectCopyMatches(background, start, length, randomBytes(rng, size), sourceStart, sourceBits);
                    }
                    if (HasFailure())
                        return;
                }
            }
        }
    }
}

// Fields longer than 64 bits take several chunks in every function.
TEST(BitBuffer, LongFieldsMatchBitwiseReference)
{
    constexpr uint32_t kBuffer = 24;
    std::mt19937_64 rng(kSeed + 2);
    for (int round = 0; round < 3000; ++round) {
        const bool big = rng() & 1;
        const int32_t bits = 65 + int32_t(rng() % 128), start = int32_t(rng() % (8 * kBuffer + 1));
        const int32_t length = big ? -bits : bits;
        SCOPED_TRACE(describe("long field", big, start, bits) + " round=" + std::to_string(round));
        const Bytes value = randomBytes(rng, (bits + 7) / 8);
        const Bytes background = randomBytes(rng, kBuffer);
        Bytes got = background, want = background;
        EXPECT_EQ(Q3bit_insert(got.data(), value.data(), kBuffer, start, length),
                  refInsert(want, value.data(), start, length));
        EXPECT_EQ(got, want);
        if (Q3bit_insideBuffer(kBuffer, start, length))
            expectExtractMatches(rng, got, start, length);

        // A copy whose every source chunk lies inside the source buffer.
        const int32_t sourceBits = (rng() & 1) ? -int32_t(rng() % 160) : int32_t(rng() % 160);
        const int64_t sourceMagnitude = std::abs(int64_t(sourceBits));
        auto sourceInside = [&](int32_t sourceStart) {
            for (int64_t c = 0; 64 * c < sourceMagnitude && 64 * c < bits; ++c) {
                const int64_t take = std::min<int64_t>(64, sourceMagnitude - 64 * c);
                const int64_t at = sourceStart + (sourceBits < 0 ? -64 : 64) * c;
                if (at < 0 || !Q3bit_insideBuffer(kBuffer, int32_t(at), int32_t(sourceBits < 0 ? -take : take)))
                    return false;
            }
            return true;
        };
        int32_t sourceStart = -1;
        for (int tries = 0; tries < 200 && sourceStart < 0; ++tries) {
            const auto candidate = int32_t(rng() % (8 * kBuffer));
            if (sourceInside(candidate))
                sourceStart = candidate;
        }
        if (sourceStart >= 0)
            expectCopyMatches(background, start, length, randomBytes(rng, kBuffer), sourceStart, sourceBits);
        if (HasFailure())
            return;
    }
}

// The 64-bit word forms: insertbuf on a value, extractbuf from exactly the eight (or nine) bytes it may read.
TEST(BitBuffer, WordFormsMatchBitwiseReference)
{
    std::mt19937_64 rng(kSeed + 3);
    for (bool big : {false, true}) {
        for (int32_t start = 0; start < 72; ++start) {
            for (int32_t bits = 1; bits <= 64; ++bits) {
                SCOPED_TRACE(describe("word", big, start, bits));
                const int32_t length = big ? -bits : bits;
                const uint64_t value = rng(), word = rng();
                Bytes buffer = bytesOf(word);
                if (big ? (start ^ 7) + bits <= 64 : start + bits <= 64)  // else the word comes back unchanged
                    refInsert(buffer, bytesOf(value).data(), start, length);
                EXPECT_EQ(Q3bit_insertbuf(value, word, start, length), le64(buffer.data()));

                const int shift = start & 7;
                const bool ninth = big ? (shift ^ 7) + bits > 64 : shift + bits > 64;
                const Bytes source = randomBytes(rng, size_t(start / 8 + 8 + (ninth ? 1 : 0)));
                const Bytes want = refExtract(source.data(), 8, start, length);
                EXPECT_EQ(Q3bit_extractbuf(source.data(), uint32_t(start), length), le64(want.data()));
                if (HasFailure())
                    return;
            }
        }
    }
}

TEST(BitBuffer, WorkedExamplesEdgeFieldsAndNullBuffers)
{
    struct Case { const char *what; int32_t start, length; uint64_t value; uint8_t bytes[3]; };
    const Case cases[] = {
        // value bits 0-3 -> byte 1 bits 4-7, bits 4-7 -> byte 2 bits 0-3
        {"little-endian s=12 L=8", 12, 8, 0xA5, {0x00, 0x50, 0x0A}},
        // value bits 7-3 -> byte 1 bits 4-0, bits 2-0 -> byte 2 bits 7-5
        {"big-endian s=12 L=8", 12, -8, 0xA5, {0x00, 0x14, 0xA0}},
        {"big-endian s=7 L=16", 7, -16, 0x1234, {0x12, 0x34, 0x00}},
        {"big-endian s=3 L=4", 3, -4, 0xB, {0x0B, 0x00, 0x00}},
        {"little-endian s=0 L=16", 0, 16, 0x1234, {0x34, 0x12, 0x00}},
        {"big-endian s=12 L=1 is byte 1 bit 4", 12, -1, 1, {0x00, 0x10, 0x00}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const uint8_t value[8] = {uint8_t(c.value), uint8_t(c.value >> 8)};
        uint8_t buffer[3] = {};
        EXPECT_EQ(Q3bit_insert(buffer, value, sizeof buffer, c.start, c.length), std::abs(c.length));
        EXPECT_EQ(Bytes(buffer, buffer + 3), Bytes(c.bytes, c.bytes + 3));
        uint8_t out[8];
        Q3bit_extract(out, buffer, sizeof out, c.start, c.length);
        EXPECT_EQ(le64(out), c.value);
    }

    // The reference runs cover fields of 1 to 64 bits at every start up to the end of small buffers; here
    // empty fields, an empty buffer, starts past the end or before the buffer, the extremes and null buffers.
    struct Extent { uint32_t bytes; int32_t start, length, want; };
    const Extent extents[] = {
        {1, 8, 0, 0}, {1, 7, 0, 1}, {0, 0, 0, 0}, {4, -1, 1, 0}, {UINT32_MAX, INT32_MAX, INT32_MIN, 1},
        {1, 0, INT32_MIN, 0},
    };
    for (const auto &[bytes, start, length, want] : extents)
        EXPECT_EQ(Q3bit_insideBuffer(bytes, start, length), want) << bytes << " " << start << " " << length;

    const Bytes ones(8, 0xFF);
    Bytes buffer(2, 0);
    for (const auto &[start, length] : {std::pair{17, 12}, {24, -8}, {-1, 4}, {-3, -4}})
        EXPECT_EQ(Q3bit_insert(buffer.data(), ones.data(), 2, start, length), 0) << start << "," << length;
    EXPECT_EQ(buffer, (Bytes{0, 0}));
    Bytes out(4, 0x5A);
    Q3bit_extract(out.data(), ones.data(), 4, 4, 0);
    EXPECT_EQ(out, (Bytes{0, 0, 0, 0})) << "an empty field clears the value";

    uint8_t byte = 0x5A;
    EXPECT_EQ(Q3bit_insert(nullptr, &byte, 1, 0, 8), 0);
    EXPECT_EQ(Q3bit_insert(&byte, nullptr, 1, 0, 8), 0);
    Q3bit_extract(&byte, nullptr, 1, 0, 8);
    Q3bit_copy(&byte, 1, 0, 8, nullptr, 0, 8);
    Q3bit_copy(&byte, 1, 0, 0, &byte, 0, 8);  // a zero-length destination field
    Q3bit_set(nullptr, 4, 0, 8);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(Q3bit_extractbuf(nullptr, 0, 8), 0u);
    EXPECT_EQ(Q3bit_buf_swap(nullptr, 8), 0u);
}

// Shifts, bit ranges and byte logic against plain references over random buffers.
TEST(BitBuffer, WholeBufferOperationsByteLogicAndSwapMatchReference)
{
    std::mt19937_64 rng(kSeed + 4);
    for (uint32_t length = 0; length <= 11; ++length) {
        for (uint32_t shift = 0; shift <= 8 * length + 9; ++shift) {
            SCOPED_TRACE("seed " + std::to_string(kSeed + 4) + " length " + std::to_string(length) + " shift " +
                         std::to_string(shift));
            const Bytes source = randomBytes(rng, length);
            Bytes wantLeft(length, 0), wantRight(length, 0);
            for (int64_t n = 0; n < 8 * int64_t(length); ++n) {
                if (n + shift < 8 * length)
                    putBit(wantLeft.data(), n + shift, getBit(source.data(), n));
                if (n >= int64_t(shift))
                    putBit(wantRight.data(), n - shift, getBit(source.data(), n));
            }
            Bytes left = randomBytes(rng, length), right = randomBytes(rng, length), leftIn = source, rightIn = source;
            Q3bit_shiftleft(left.data(), source.data(), length, shift);
            Q3bit_shiftright(right.data(), source.data(), length, shift);
            Q3bit_shiftleft(leftIn.data(), leftIn.data(), length, shift);
            Q3bit_shiftright(rightIn.data(), rightIn.data(), length, shift);
            EXPECT_EQ(left, wantLeft);
            EXPECT_EQ(right, wantRight);
            EXPECT_EQ(leftIn, wantLeft) << "in place";
            EXPECT_EQ(rightIn, wantRight) << "in place";

            // Set and reset over [shift - 3, ...) with counts crossing the end.
            const uint32_t start = shift >= 3 ? shift - 3 : 0, count = uint32_t(rng() % 40);
            Bytes set = source, reset = source, wantSet = source, wantReset = source;
            for (uint64_t n = start; n < uint64_t(start) + count && n < 8 * length; ++n) {
                putBit(wantSet.data(), int64_t(n), true);
                putBit(wantReset.data(), int64_t(n), false);
            }
            Q3bit_set(set.data(), length, start, count);
            Q3bit_reset(reset.data(), length, start, count);
            EXPECT_EQ(set, wantSet);
            EXPECT_EQ(reset, wantReset);
            if (HasFailure())
                return;
        }
    }
    Bytes huge(2, 0);
    Q3bit_set(huge.data(), 2, 3, UINT32_MAX);
    EXPECT_EQ(huge, (Bytes{0xF8, 0xFF}));

    const Bytes bytes = bytesOf(0x0807060504030201);
    const std::pair<uint32_t, uint64_t> cases[] = {
        {0, 0x0807060504030201}, {1, 0x0807060504030201}, {2, 0x0102}, {3, 0x01020304}, {4, 0x01020304},
        {5, 0x0102030405060708}, {8, 0x0102030405060708}, {9, 0x0807060504030201},
    };
    for (const auto &[count, want] : cases)
        EXPECT_EQ(Q3bit_buf_swap(bytes.data(), count), want) << count;
    const Bytes a = {0x0F, 0xF0, 0xAA, 0x55, 0x00};
    const Bytes b = {0xFF, 0x3C, 0x0F, 0x55, 0x80};
    Bytes out(5, 0x77);
    Q3byte_or(out.data(), a.data(), b.data(), 4);
    EXPECT_EQ(out, (Bytes{0xFF, 0xFC, 0xAF, 0x55, 0x77}));
    Q3byte_and(out.data(), a.data(), b.data(), 5);
    EXPECT_EQ(out, (Bytes{0x0F, 0x30, 0x0A, 0x55, 0x00}));
    Bytes inPlace = a;
    Q3byte_xor(inPlace.data(), inPlace.data(), b.data(), 5);
    EXPECT_EQ(inPlace, (Bytes{0xF0, 0xCC, 0xA5, 0x00, 0x80}));
}

