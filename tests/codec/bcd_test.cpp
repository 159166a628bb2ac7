// BCD fields: the digit and sign layout, rejection of bad digits, leftover digits, and a
// round trip over every field length of both forms.
#include "vexo/codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace {

enum Kind { UnsignedPacked, SignedPacked, UnsignedUnpacked, SignedUnpacked };

const char *const kKindNames[] = {"unsigned packed", "signed packed", "unsigned unpacked", "signed unpacked"};
bool isSigned(Kind kind) { return kind == SignedPacked || kind == SignedUnpacked; }
unsigned digitWidth(Kind kind) { return kind == UnsignedPacked || kind == SignedPacked ? 4 : 8; }

// Decodes through the exported function of the kind; signed results come back as their two's complement bits.
HRESULT decode(Kind kind, uint64_t field, uint32_t bits, uint64_t &value)
{
    if (!isSigned(kind))
        return (kind == UnsignedPacked ? Q3Decode_FromUnsignedPackedBCD : Q3Decode_FromUnsignedUnpackedBCD)(
            &value, &field, bits);
    int64_t signedValue = static_cast<int64_t>(value);
    const HRESULT hr = (kind == SignedPacked ? Q3Decode_FromSignedPackedBCD : Q3Decode_FromSignedUnpackedBCD)(
        &signedValue, &field, bits);
    value = static_cast<uint64_t>(signedValue);
    return hr;
}

HRESULT encode(Kind kind, uint64_t value, uint32_t bits, uint64_t &field)
{
    if (!isSigned(kind))
        return (kind == UnsignedPacked ? Q3Encode_ToUnsignedPackedBCD : Q3Encode_ToUnsignedUnpackedBCD)(
            &field, value, bits);
    return (kind == SignedPacked ? Q3Encode_ToSignedPackedBCD : Q3Encode_ToSignedUnpackedBCD)(
        &field, static_cast<int64_t>(value), bits);
}


constexpr uint64_t kUntouched = 0xDEADBEEFCAFEF00DULL;

} // namespace

TEST(Bcd, DecodesAndEncodesDigitsAndSignAndRefusesBadDigitsAndNulls)
{
    struct Case { Kind kind; uint64_t field; uint32_t bits; HRESULT hr; int64_t want; };
    const Case cases[] = {
        {UnsignedPacked, 0x99, 8, S_OK, 99},          {UnsignedPacked, 0x9A, 8, E_INVALIDARG, 0},
        {UnsignedPacked, 0x0F, 8, E_INVALIDARG, 0},   {UnsignedPacked, 0xA0, 8, E_INVALIDARG, 0},
        {UnsignedPacked, 0xF12, 8, S_OK, 12},      // bits above the field are not read
        {UnsignedPacked, 0x95, 6, S_OK, 95},       // a partial top position is read whole
        {UnsignedPacked, 0x35, 0, S_OK, 5},        // length 0 still reads one position
        {UnsignedPacked, 0x9999999999999999, 64, S_OK, 9999999999999999},
        {UnsignedPacked, 0x1234, 200, S_OK, 1234}, // lengths above 64 count as 64
        {SignedPacked, 0x815, 12, S_OK, -15},         {SignedPacked, 0x015, 12, S_OK, 15},
        {SignedPacked, 0xC15, 12, S_OK, -15},      // only the sign position's top bit counts
        {SignedPacked, 0x415, 12, S_OK, 15},          {SignedPacked, 0x8A5, 12, E_INVALIDARG, 0},
        {SignedPacked, 0x8000000000000001, 64, S_OK, -1}, {SignedPacked, 0x0999999999999999, 64, S_OK, 999999999999999},
        {SignedPacked, 0x7, 4, S_OK, 7},           // one position: the digit sits below the sign bit
        {SignedPacked, 0x9, 4, S_OK, -1}, {SignedPacked, 0xF, 0, S_OK, 0}, {UnsignedUnpacked, 0x0109, 16, S_OK, 19},
        {UnsignedUnpacked, 0x1009, 16, E_INVALIDARG, 0}, {UnsignedUnpacked, 0x0909090909090909, 64, S_OK, 99999999},
        {SignedUnpacked, 0x800102, 24, S_OK, -12}, {SignedUnpacked, 0x7F0102, 24, S_OK, 12},
        {SignedUnpacked, 0x85, 8, S_OK, -5}, {SignedUnpacked, 0x80000A01, 32, E_INVALIDARG, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << kKindNames[c.kind] << " 0x" << std::hex << c.field << std::dec << " bits "
                                        << c.bits);
        uint64_t value = kUntouched;
        EXPECT_EQ(decode(c.kind, c.field, c.bits, value), c.hr);
        EXPECT_EQ(value, c.hr == S_OK ? static_cast<uint64_t>(c.want) : kUntouched);
    }
    uint64_t field = 0x12;
    int64_t signedValue = 0;
    EXPECT_EQ(Q3Decode_FromUnsignedPackedBCD(nullptr, &field, 8), E_INVALIDARG);
    EXPECT_EQ(Q3Decode_FromSignedPackedBCD(&signedValue, nullptr, 8), E_INVALIDARG);
    EXPECT_EQ(Q3Decode_FromUnsignedUnpackedBCD(&field, nullptr, 8), E_INVALIDARG);
    EXPECT_EQ(Q3Decode_FromSignedUnpackedBCD(nullptr, &field, 8), E_INVALIDARG);

    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    struct Encoding { Kind kind; int64_t value; uint32_t bits; uint64_t field; HRESULT hr; };
    const Encoding encodings[] = {
        {UnsignedPacked, 123, 8, 0x23, S_FALSE},      {UnsignedPacked, 0, 8, 0, S_OK},
        {UnsignedPacked, 99, 8, 0x99, S_OK},          {UnsignedPacked, 1234, 16, 0x1234, S_OK},
        {UnsignedPacked, 0, 0, 0, S_OK},              {UnsignedPacked, 5, 0, 0, S_FALSE},  // no position at all
        {UnsignedPacked, -1, 64, 0x6744073709551615, S_FALSE}, // largest unsigned, low 16 digits
        {SignedPacked, 7, 8, 0x07, S_OK},             {SignedPacked, -7, 8, 0x87, S_OK},
        {SignedPacked, 45, 8, 0x05, S_FALSE},         {SignedPacked, -45, 8, 0x85, S_FALSE},  // the sign survives cuts
        {SignedPacked, -123, 16, 0x8123, S_OK},       {SignedPacked, -1234, 16, 0x8234, S_FALSE},
        {SignedPacked, kMin, 16, 0x8000, S_FALSE},    {SignedPacked, kMax, 64, 0x0372036854775807, S_FALSE},
        {SignedPacked, 5, 4, 0x5, S_OK},              {SignedPacked, -5, 4, 0xD, S_OK},
        {SignedPacked, 9, 4, 0x1, S_FALSE},         // a digit never reaches the sign bit
        {SignedPacked, -1, 1, 0x1, S_FALSE},          {SignedPacked, 3, 0, 0, S_FALSE},
        {UnsignedUnpacked, 123, 12, 0x0203, S_FALSE}, // positions at bits 0 and 8 only
        {SignedUnpacked, -12, 24, 0x800102, S_OK},    {SignedUnpacked, -12, 32, 0x80000102, S_OK},
        {SignedUnpacked, 0, 24, 0, S_OK},             {UnsignedUnpacked, 1234, 32, 0x01020304, S_OK},
    };
    for (const Encoding &c : encodings) {
        SCOPED_TRACE(testing::Message() << kKindNames[c.kind] << " " << c.value << " bits " << c.bits);
        uint64_t encoded = kUntouched;
        EXPECT_EQ(encode(c.kind, static_cast<uint64_t>(c.value), c.bits, encoded), c.hr);
        EXPECT_EQ(encoded, c.field) << std::hex << "0x" << encoded << " wanted 0x" << c.field;
    }
    EXPECT_EQ(Q3Encode_ToUnsignedPackedBCD(nullptr, 1, 8), E_INVALIDARG);
    EXPECT_EQ(Q3Encode_ToSignedPackedBCD(nullptr, 1, 8), E_INVALIDARG);
    EXPECT_EQ(Q3Encode_ToUnsignedUnpackedBCD(nullptr, 1, 8), E_INVALIDARG);
    EXPECT_EQ(Q3Encode_ToSignedUnpackedBCD(nullptr, 1, 8), E_INVALIDARG);
}

// Encoding then decoding gives back the value cut to the digits the field holds, and the
// encoder's result tells whether anything was cut.
TEST(Bcd, RoundTripKeepsTheDigitsThatFit)
{
    constexpr uint64_t kSeed = 0xBCDBCD;
    std::mt19937_64 rng(kSeed);
    for (Kind kind : {UnsignedPacked, SignedPacked, UnsignedUnpacked, SignedUnpacked}) {
        const unsigned width = digitWidth(kind);
        for (uint32_t bits = 0; bits <= 70; ++bits) {
            const unsigned length = bits > 64 ? 64 : bits;
            if (isSigned(kind) && length >= 1 && length <= width)
                continue; // one-position signed fields are covered by the tables
            const unsigned room = isSigned(kind) ? (length > width ? length - width : 0) : length;
            const unsigned digits = (room + width - 1) / width;
            const uint64_t limit = uint64_t(std::pow(10.0L, digits));
            for (int round = 0; round < 40; ++round) {
                // Magnitudes of every size, from 0 up to 19 digits.
                uint64_t magnitude = rng();
                for (uint64_t cut = rng() % 20; cut > 0; --cut)
                    magnitude /= 10;
                if (isSigned(kind))
                    magnitude &= ~(uint64_t(1) << 63);
                const bool negative = isSigned(kind) && (rng() & 1);
                const uint64_t value = negative ? uint64_t(0) - magnitude : magnitude;
                SCOPED_TRACE(std::string(kKindNames[kind]) + " seed " + std::to_string(kSeed) + " bits " +
                             std::to_string(bits) + " value " + std::to_string(magnitude) +
                             (negative ? " negative" : ""));
                uint64_t field = 0;
                const HRESULT hr = encode(kind, value, bits, field);
                EXPECT_EQ(hr, magnitude >= limit ? S_FALSE : S_OK);
                EXPECT_TRUE(length >= 64 || length % width != 0 || field >> length == 0) << "bits above the field";
                uint64_t back = 0;
                ASSERT_EQ(decode(kind, field, bits, back), S_OK);
                const uint64_t kept = magnitude % limit;
                EXPECT_EQ(back, negative ? uint64_t(0) - kept : kept);
            }
        }
    }
}
