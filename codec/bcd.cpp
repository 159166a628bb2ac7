// Binary-coded decimal fields in a 64-bit word: the decimal conversion behind the exported
// Q3Decode_ and Q3Encode_ functions. At most 16 digits fit, so sums never overflow.
#include "bcd.h"

#include "vexo/codec.h"

#include <algorithm>
#include <limits>

namespace vexo::codec {
namespace {

uint64_t lowMask(unsigned bits)
{
    return bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
}

// Sums the digits of the positions that start below `end`, reading at least one.
bool sumDigits(uint64_t field, unsigned width, unsigned end, uint64_t &sum)
{
    const uint64_t digitMask = lowMask(width);
    uint64_t total = 0;
    uint64_t weight = 1;
    unsigned position = 0;
    do {
        const uint64_t digit = field >> position & digitMask;
        if (digit > 9)
            return false;
        total += digit * weight;
        weight *= 10;
        position += width;
    } while (position < end);
    sum = total;
    return true;
}

// Writes the decimal digits of a magnitude into the positions that start below `end`.
// Returns true when digits were left over.
bool writeDigits(uint64_t magnitude, unsigned width, unsigned end, uint64_t &field)
{
    uint64_t bits = 0;
    for (unsigned position = 0; magnitude != 0 && position < end; position += width) {
        bits |= (magnitude % 10) << position;
        magnitude /= 10;
    }
    field = bits;
    return magnitude != 0;
}

unsigned clampLength(uint32_t bitLength)
{
    return std::min<uint32_t>(bitLength, 64);
}

// End of the digit positions of a signed field: below the sign position, or a single
// position when the field has none below it.
unsigned signedDigitsEnd(unsigned length, unsigned width)
{
    return length > width ? length - width : 1;
}

} // namespace

bool decodeUnsignedBcd(uint64_t field, uint32_t bitLength, BcdForm form, uint64_t &value)
{
    return sumDigits(field, static_cast<unsigned>(form), clampLength(bitLength), value);
}

bool decodeSignedBcd(uint64_t field, uint32_t bitLength, BcdForm form, int64_t &value)
{
    const unsigned length = clampLength(bitLength);
    if (length == 0) {
        value = 0;
        return true;
    }
    const auto width = static_cast<unsigned>(form);
    const uint64_t signBit = uint64_t(1) << (length - 1);
    // Digits lie below the sign bit; for fields longer than one position the digit
    // positions never reach it anyway, the mask only matters for shorter ones.
    uint64_t sum;
    if (!sumDigits(field & (signBit - 1), width, signedDigitsEnd(length, width), sum))
        return false;
    value = (field & signBit) != 0 ? -static_cast<int64_t>(sum) : static_cast<int64_t>(sum);
    return true;
}

bool encodeUnsignedBcd(uint64_t value, uint32_t bitLength, BcdForm form, uint64_t &field)
{
    return writeDigits(value, static_cast<unsigned>(form), clampLength(bitLength), field);
}

bool encodeSignedBcd(int64_t value, uint32_t bitLength, BcdForm form, uint64_t &field)
{
    const unsigned length = clampLength(bitLength);
    if (length == 0) {
        field = 0;
        return value != 0;
    }
    const auto width = static_cast<unsigned>(form);
    const uint64_t signBit = uint64_t(1) << (length - 1);
    const uint64_t sign = value < 0 ? signBit : 0;
    // The smallest 64-bit integer has no positive magnitude.
    if (value == std::numeric_limits<int64_t>::min()) {
        field = sign;
        return true;
    }
    const uint64_t magnitude = static_cast<uint64_t>(value < 0 ? -value : value);
    uint64_t digits;
    bool leftOver = writeDigits(magnitude, width, signedDigitsEnd(length, width), digits);
    // Only a field of one position can have a digit reach the sign bit: that digit is
    // cut to the bits below it.
    if ((digits & ~(signBit - 1)) != 0) {
        digits &= signBit - 1;
        leftOver = true;
    }
    field = digits | sign;
    return leftOver;
}

} // namespace vexo::codec

using namespace vexo::codec;

namespace {

HRESULT leftOverResult(bool leftOver)
{
    return leftOver ? S_FALSE : S_OK;
}

} // namespace

HRESULT Q3Decode_FromUnsignedPackedBCD(uint64_t *value, const uint64_t *field, uint32_t bitLength)
{
    if (value == nullptr || field == nullptr)
        return E_INVALIDARG;
    if (!decodeUnsignedBcd(*field, bitLength, BcdForm::Packed, *value))
        return E_INVALIDARG;
    return S_OK;
}

HRESULT Q3Decode_FromSignedPackedBCD(int64_t *value, const uint64_t *field, uint32_t bitLength)
{
    if (value == nullptr || field == nullptr)
        return E_INVALIDARG;
    if (!decodeSignedBcd(*field, bitLength, BcdForm::Packed, *value))
        return E_INVALIDARG;
    return S_OK;
}

HRESULT Q3Decode_FromUnsignedUnpackedBCD(uint64_t *value, const uint64_t *field, uint32_t bitLength)
{
    if (value == nullptr || field == nullptr)
        return E_INVALIDARG;
    if (!decodeUnsignedBcd(*field, bitLength, BcdForm::Unpacked, *value))
        return E_INVALIDARG;
    return S_OK;
}

HRESULT Q3Decode_FromSignedUnpackedBCD(int64_t *value, const uint64_t *field, uint32_t bitLength)
{
    if (value == nullptr || field == nullptr)
        return E_INVALIDARG;
    if (!decodeSignedBcd(*field, bitLength, BcdForm::Unpacked, *value))
        return E_INVALIDARG;
    return S_OK;
}

HRESULT Q3Encode_ToUnsignedPackedBCD(uint64_t *field, uint64_t value, uint32_t bitLength)
{
    if (field == nullptr)
        return E_INVALIDARG;
    return leftOverResult(encodeUnsignedBcd(value, bitLength, BcdForm::Packed, *field));
}

HRESULT Q3Encode_ToSignedPackedBCD(uint64_t *field, int64_t value, uint32_t bitLength)
{
    if (field == nullptr)
        return E_INVALIDARG;
    return leftOverResult(encodeSignedBcd(value, bitLength, BcdForm::Packed, *field));
}

HRESULT Q3Encode_ToUnsignedUnpackedBCD(uint64_t *field, uint64_t value, uint32_t bitLength)
{
    if (field == nullptr)
        return E_INVALIDARG;
    return leftOverResult(encodeUnsignedBcd(value, bitLength, BcdForm::Unpacked, *field));
}

HRESULT Q3Encode_ToSignedUnpackedBCD(uint64_t *field, int64_t value, uint32_t bitLength)
{
    if (field == nullptr)
        return E_INVALIDARG;
    return leftOverResult(encodeSignedBcd(value, bitLength, BcdForm::Unpacked, *field));
}
