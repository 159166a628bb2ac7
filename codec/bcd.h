// Binary-coded decimal fields held in a 64-bit word: packed (a digit per nibble) and
// unpacked (a digit per byte), unsigned and with a sign bit on top.
#pragma once

#include <cstdint>

namespace vexo::codec {

// Digit width in bits.
enum class BcdForm : unsigned { Packed = 4, Unpacked = 8 };

// Decode a field of bitLength bits; false (value untouched) for a digit above 9.
bool decodeUnsignedBcd(uint64_t field, uint32_t bitLength, BcdForm form, uint64_t &value);
bool decodeSignedBcd(uint64_t field, uint32_t bitLength, BcdForm form, int64_t &value);

// Encode a value into a field of bitLength bits; true when digits were left over
// (the field then holds the low digits).
bool encodeUnsignedBcd(uint64_t value, uint32_t bitLength, BcdForm form, uint64_t &field);
bool encodeSignedBcd(int64_t value, uint32_t bitLength, BcdForm form, uint64_t &field);

} // namespace vexo::codec
