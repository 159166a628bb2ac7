// Bit fields of up to 64 bits in byte buffers, for callers inside the library that
// move one field at a time; the exported Q3bit_ functions are built on these.
#pragma once

#include <cstdint>

namespace vexo::codec {

// Reads a field of at most 64 bits (|length| <= 64; length < 0 is big-endian) and
// returns its value. Only bytes holding bits of the field are read. A zero length
// or a negative start bit gives 0.
uint64_t extractField(const uint8_t *buffer, int64_t startBit, int32_t length);

// Reads a field of 1 to 64 bits (big-endian when big) that lies wholly inside a buffer of
// at least eight bytes, with one 64-bit load of the eight bytes that hold it: its own
// bytes, or the buffer's last eight. False, with nothing read, for a field that spans
// nine bytes.
inline bool extractInWindow(const uint8_t *buffer, uint64_t bufferLength, int64_t startBit, unsigned bits,
                            bool big, uint64_t *value)
{
    const uint64_t first = uint64_t(startBit) >> 3;
    const uint64_t base = first < bufferLength - 8 ? first : bufferLength - 8;
    uint64_t word;
    __builtin_memcpy(&word, buffer + base, sizeof word);
    unsigned position;
    if (!big) {
        position = 8 * unsigned(first - base) + unsigned(startBit & 7);
        if (position + bits > 64)
            return false;
    } else {
        // In the word read big-endian (byte `base` most significant), the field's least
        // significant bit lies `position` bits up.
        const uint64_t lsb = ((uint64_t(startBit) ^ 7) + bits - 1) ^ 7;
        const uint64_t last = lsb >> 3;
        if (last - base > 7)
            return false;
        word = __builtin_bswap64(word);
        position = 8 * unsigned(7 - (last - base)) + unsigned(lsb & 7);
    }
    const uint64_t mask = bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
    *value = (word >> position) & mask;
    return true;
}

// Writes the low |length| bits of value (|length| <= 64) into a field of a buffer
// of bufferLength bytes: a little-endian field is clipped at the buffer's end, of a
// big-endian one only the bytes inside the buffer are written. A negative start
// bit writes nothing. Returns the number of bits written.
int32_t insertField(uint8_t *buffer, uint64_t bufferLength, int64_t startBit, int32_t length,
                    uint64_t value);

// Writes value's bits under mask, shifted up by position, into the eight bytes at window,
// read as a little-endian word (big-endian: byte 0 most significant); other bits stay.
inline void writeWindow(uint8_t *window, bool big, unsigned position, uint64_t mask, uint64_t value)
{
    uint64_t word;
    __builtin_memcpy(&word, window, sizeof word);
    if (big)
        word = __builtin_bswap64(word);
    word = (word & ~mask) | ((value << position) & mask);
    if (big)
        word = __builtin_bswap64(word);
    __builtin_memcpy(window, &word, sizeof word);
}

// As insertField, through one 64-bit window when the field lies wholly inside a buffer of
// at least eight bytes (the common case of a signal in a frame).
inline int32_t insertFieldQuickly(uint8_t *buffer, uint64_t bufferLength, int64_t startBit, int32_t length,
                                  uint64_t value)
{
    const bool big = length < 0;
    const unsigned bits = big ? unsigned(-int64_t(length)) : unsigned(length);
    const uint64_t start = uint64_t(startBit);
    if (bits - 1 < 64 && bufferLength >= 8 && start < 8 * bufferLength) {
        // The window: the eight bytes from the field's first one, or the buffer's last
        // eight. Read as a little-endian word (a big-endian field: byte `base` most
        // significant), the field's least significant bit lies `position` bits up; a
        // field reaching out of the window gives a position below 0 or above 64 - bits.
        const uint64_t first = start >> 3;
        const uint64_t base = first < bufferLength - 8 ? first : bufferLength - 8;
        const uint64_t position = big ? 64 - bits + 8 * base - (start ^ 7) : start - 8 * base;
        if (position <= 64 - bits) {
            writeWindow(buffer + base, big, unsigned(position), (~uint64_t(0) >> (64 - bits)) << position, value);
            return static_cast<int32_t>(bits);
        }
    }
    return insertField(buffer, bufferLength, startBit, length, value);
}

} // namespace vexo::codec
