// Bit fields of either byte order in byte buffers, and whole-buffer bit and byte operations.
// A field of up to 64 bits spans at most nine bytes; it is moved as one 64-bit word plus at
// most one extra byte, so extract and insert cost a few loads and shifts whatever the length.
// Longer fields go through the same code in 64-bit chunks.
#include "bit_buffer.h"

#include "vexo/codec.h"

#include <algorithm>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "word loads assume a little-endian host");

namespace vexo::codec {
namespace {

uint64_t lowMask(unsigned bits)
{
    return bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
}

uint16_t load16(const uint8_t *p)
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t load32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint64_t load64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store16(uint8_t *p, uint64_t v)
{
    const auto w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, sizeof w);
}

void store32(uint8_t *p, uint64_t v)
{
    const auto w = static_cast<uint32_t>(v);
    std::memcpy(p, &w, sizeof w);
}

void store64(uint8_t *p, uint64_t v)
{
    std::memcpy(p, &v, sizeof v);
}

// Reads count (0 to 8) bytes as a little-endian number. Two overlapping loads cover
// the odd counts without touching a byte outside the count; the overlap holds the same
// bytes in both, so OR-ing them is exact.
uint64_t loadBytes(const uint8_t *p, unsigned count)
{
    if (count >= 4) {
        if (count == 8)
            return load64(p);
        const uint64_t low = load32(p);
        const uint64_t high = load32(p + count - 4);
        return low | high << (8 * (count - 4));
    }
    if (count >= 2) {
        const uint64_t low = load16(p);
        const uint64_t high = load16(p + count - 2);
        return low | high << (8 * (count - 2));
    }
    return count == 1 ? p[0] : 0;
}

// Writes the low count (0 to 8) bytes of v, with overlapping stores of equal bytes.
void storeBytes(uint8_t *p, uint64_t v, unsigned count)
{
    if (count >= 4) {
        if (count == 8) {
            store64(p, v);
            return;
        }
        store32(p, v);
        store32(p + count - 4, v >> (8 * (count - 4)));
        return;
    }
    if (count >= 2) {
        store16(p, v);
        store16(p + count - 2, v >> (8 * (count - 2)));
        return;
    }
    if (count == 1)
        p[0] = static_cast<uint8_t>(v);
}

// The buffer bit holding the least significant bit of a big-endian field.
int64_t bigEndianLsb(int64_t startBit, int64_t bits)
{
    return ((startBit ^ 7) + bits - 1) ^ 7;
}

// Little-endian field, 1 to 64 bits, start bit >= 0.
uint64_t extractLittle(const uint8_t *buffer, int64_t startBit, unsigned bits)
{
    const uint8_t *p = buffer + (startBit >> 3);
    const unsigned shift = startBit & 7;
    const unsigned span = (shift + bits + 7) / 8;
    uint64_t v;
    if (span <= 8)
        v = loadBytes(p, span) >> shift;
    else // span 9 needs shift >= 1
        v = load64(p) >> shift | uint64_t(p[8]) << (64 - shift);
    return v & lowMask(bits);
}

// Big-endian field, 1 to 64 bits, start bit >= 0. The bytes from the start bit's byte
// to the least significant bit's byte, read as a big-endian number, hold the field
// with its least significant bit at bit `shift`.
uint64_t extractBig(const uint8_t *buffer, int64_t startBit, unsigned bits)
{
    const uint8_t *p = buffer + (startBit >> 3);
    const unsigned shift = bigEndianLsb(startBit, bits) & 7;
    const unsigned span = (shift + bits + 7) / 8;
    uint64_t v;
    if (span <= 8)
        v = (__builtin_bswap64(loadBytes(p, span)) >> (64 - 8 * span)) >> shift;
    else
        v = __builtin_bswap64(load64(p)) << (8 - shift) | p[8] >> shift;
    return v & lowMask(bits);
}

// Base of the eight-byte window that holds a field of `span` <= 8 bytes from byte `first`
// in a buffer of at least eight bytes: the field's own bytes, or the buffer's last eight.
// One 64-bit load and store per insertion keeps the store forwardable to the next load of
// the same bytes; the window's other bytes are written back unchanged.
uint64_t windowBase(uint64_t first, uint64_t bufferLength)
{
    return std::min(first, bufferLength - 8);
}

// Little-endian field, 1 to 64 bits, start bit >= 0, lying inside the buffer.
void insertLittle(uint8_t *buffer, uint64_t bufferLength, int64_t startBit, unsigned bits,
                  uint64_t value)
{
    const uint64_t first = uint64_t(startBit) >> 3;
    const unsigned shift = startBit & 7;
    const unsigned span = (shift + bits + 7) / 8;
    const uint64_t mask = lowMask(bits);
    value &= mask;
    if (span <= 8 && bufferLength >= 8) {
        const uint64_t base = windowBase(first, bufferLength);
        const unsigned up = 8 * unsigned(first - base) + shift;
        uint8_t *p = buffer + base;
        store64(p, (load64(p) & ~(mask << up)) | value << up);
        return;
    }
    uint8_t *p = buffer + first;
    if (span <= 8) {
        const uint64_t x = loadBytes(p, span);
        storeBytes(p, (x & ~(mask << shift)) | value << shift, span);
        return;
    }
    const uint64_t x = load64(p);
    store64(p, (x & ~(mask << shift)) | value << shift);
    const unsigned highBits = shift + bits - 64;
    p[8] = static_cast<uint8_t>((p[8] & ~lowMask(highBits)) | value >> (64 - shift));
}

// Big-endian field, 1 to 64 bits, start bit >= 0; bytes at or beyond bufferLength are
// skipped. The field is placed in a big-endian number over its bytes, then byte-reversed
// into memory order, so one masked merge writes it. Returns the bits written: running
// indexes grow with the byte address, so those are the ones below 8 * bufferLength.
int32_t insertBig(uint8_t *buffer, uint64_t bufferLength, int64_t startBit, unsigned bits,
                  uint64_t value)
{
    const uint64_t first = uint64_t(startBit) >> 3;
    if (first >= bufferLength)
        return 0;
    const unsigned shift = bigEndianLsb(startBit, bits) & 7;
    const unsigned span = (shift + bits + 7) / 8;
    const auto written = static_cast<int32_t>(std::min<uint64_t>(bits, 8 * bufferLength - (startBit ^ 7)));
    const uint64_t mask = lowMask(bits);
    value &= mask;
    if (span <= 8) {
        const unsigned up = 64 - 8 * span;
        uint64_t fieldMask = __builtin_bswap64(mask << shift << up);
        uint64_t fieldBits = __builtin_bswap64(value << shift << up);
        if (bufferLength >= 8) {
            // Bytes past the buffer's end shift out of the window's top.
            const uint64_t base = windowBase(first, bufferLength);
            const unsigned offset = 8 * unsigned(first - base);
            fieldMask <<= offset;
            fieldBits <<= offset;
            uint8_t *p = buffer + base;
            store64(p, (load64(p) & ~fieldMask) | fieldBits);
            return written;
        }
        const auto inside = static_cast<unsigned>(std::min<uint64_t>(span, bufferLength - first));
        uint8_t *p = buffer + first;
        const uint64_t x = loadBytes(p, inside);
        storeBytes(p, (x & ~fieldMask) | fieldBits, inside);
        return written;
    }
    // Nine bytes: the first eight take the 72-bit number's top 64 bits, the ninth its
    // low byte.
    const auto inside = static_cast<unsigned>(std::min<uint64_t>(span, bufferLength - first));
    uint8_t *p = buffer + first;
    const uint64_t fieldMask = __builtin_bswap64(mask >> (8 - shift));
    const uint64_t fieldBits = __builtin_bswap64(value >> (8 - shift));
    const unsigned head = std::min(inside, 8u);
    const uint64_t x = loadBytes(p, head);
    storeBytes(p, (x & ~fieldMask) | fieldBits, head);
    if (inside == 9) {
        const auto lowMaskByte = static_cast<uint8_t>(mask << shift);
        p[8] = static_cast<uint8_t>((p[8] & ~lowMaskByte) | (value << shift & lowMaskByte));
    }
    return written;
}

// Start bit of the chunk that holds value bits 64 * index up to 64 * index + chunkBits - 1
// of a field of `bits` bits. Big-endian chunks are counted from the least significant end:
// they are the running indexes just before the chunk below them.
int64_t chunkStart(int64_t startBit, int64_t bits, bool big, int64_t index, int64_t chunkBits)
{
    if (!big)
        return startBit + 64 * index;
    return ((startBit ^ 7) + bits - 64 * index - chunkBits) ^ 7;
}

int64_t magnitude(int32_t length)
{
    return length < 0 ? -int64_t(length) : int64_t(length);
}

} // namespace

uint64_t extractField(const uint8_t *buffer, int64_t startBit, int32_t length)
{
    if (length == 0 || startBit < 0)
        return 0;
    if (length > 0)
        return extractLittle(buffer, startBit, static_cast<unsigned>(length));
    return extractBig(buffer, startBit, static_cast<unsigned>(-length));
}

int32_t insertField(uint8_t *buffer, uint64_t bufferLength, int64_t startBit, int32_t length,
                    uint64_t value)
{
    if (length == 0 || startBit < 0)
        return 0;
    if (length < 0)
        return insertBig(buffer, bufferLength, startBit, static_cast<unsigned>(-length), value);
    const uint64_t end = 8 * bufferLength;
    if (uint64_t(startBit) >= end)
        return 0;
    const auto bits = static_cast<unsigned>(std::min<uint64_t>(unsigned(length), end - startBit));
    insertLittle(buffer, bufferLength, startBit, bits, value);
    return static_cast<int32_t>(bits);
}

} // namespace vexo::codec

using namespace vexo::codec;

int32_t Q3bit_insideBuffer(uint32_t bufferLength, int32_t startBit, int32_t length)
{
    const int64_t end = 8 * int64_t(bufferLength);
    if (startBit < 0 || startBit >= end)
        return 0;
    if (length >= 0)
        return startBit + int64_t(length) <= end ? 1 : 0;
    return bigEndianLsb(startBit, magnitude(length)) < end ? 1 : 0;
}

int32_t Q3bit_insert(uint8_t *buffer, const uint8_t *value, uint32_t bufferLength, int32_t startBit,
                     int32_t length)
{
    if (buffer == nullptr || value == nullptr || startBit < 0 || length == 0)
        return 0;
    const bool big = length < 0;
    int64_t bits = magnitude(length);
    if (bits <= 64)
        return insertField(buffer, bufferLength, startBit, length,
                           loadBytes(value, static_cast<unsigned>((bits + 7) / 8)));
    if (big && uint64_t(startBit) / 8 >= bufferLength)
        return 0;
    if (!big) {
        const int64_t end = 8 * int64_t(bufferLength);
        if (startBit >= end)
            return 0;
        bits = std::min<int64_t>(bits, end - startBit);
    }
    int64_t written = 0;
    for (int64_t i = 0; 64 * i < bits; ++i) {
        const int64_t chunkBits = std::min<int64_t>(64, bits - 64 * i);
        const uint64_t v = loadBytes(value + 8 * i, static_cast<unsigned>((chunkBits + 7) / 8));
        const int64_t start = chunkStart(startBit, bits, big, i, chunkBits);
        if (big)
            written += insertBig(buffer, bufferLength, start, static_cast<unsigned>(chunkBits), v);
        else
            insertLittle(buffer, bufferLength, start, static_cast<unsigned>(chunkBits), v);
    }
    if (!big)
        written = bits;
    // Only a big-endian field of exactly 2^31 bits could count past the range.
    return static_cast<int32_t>(std::min<int64_t>(written, INT32_MAX));
}

void Q3bit_extract(uint8_t *value, const uint8_t *buffer, uint32_t valueLength, int32_t startBit,
                   int32_t length)
{
    if (value == nullptr || buffer == nullptr)
        return;
    const bool big = length < 0;
    const int64_t bits = magnitude(length);
    uint64_t done = 0;
    if (bits > 0 && bits <= 64 && startBit >= 0 && valueLength >= 8) {
        store64(value, big ? extractBig(buffer, startBit, static_cast<unsigned>(bits))
                           : extractLittle(buffer, startBit, static_cast<unsigned>(bits)));
        done = 8;
    } else if (bits > 0 && startBit >= 0) {
        const uint64_t fieldBytes = std::min<uint64_t>((bits + 7) / 8, valueLength);
        // Each chunk is stored whole (as far as the value reaches): a chunk's bytes above
        // the field are zero already.
        for (int64_t i = 0; done < fieldBytes; ++i) {
            const int64_t chunkBits = std::min<int64_t>(64, bits - 64 * i);
            const int64_t start = chunkStart(startBit, bits, big, i, chunkBits);
            const uint64_t v = big ? extractBig(buffer, start, static_cast<unsigned>(chunkBits))
                                   : extractLittle(buffer, start, static_cast<unsigned>(chunkBits));
            const auto count = static_cast<unsigned>(std::min<uint64_t>(8, valueLength - done));
            storeBytes(value + done, v, count);
            done += count;
        }
    }
    if (done < valueLength)
        std::memset(value + done, 0, valueLength - done);
}

void Q3bit_copy(uint8_t *destination, uint32_t destinationLength, int32_t destinationStart,
                int32_t destinationBits, const uint8_t *source, int32_t sourceStart, int32_t sourceBits)
{
    if (destination == nullptr || source == nullptr)
        return;
    const int64_t destinationStep = destinationBits < 0 ? -64 : 64;
    const int64_t sourceStep = sourceBits < 0 ? -64 : 64;
    int64_t destinationLeft = magnitude(destinationBits);
    int64_t sourceLeft = magnitude(sourceBits);
    int64_t destinationAt = destinationStart;
    int64_t sourceAt = sourceStart;
    for (; destinationLeft > 0; destinationLeft -= 64, sourceLeft -= 64) {
        const auto take = static_cast<int32_t>(std::clamp<int64_t>(sourceLeft, 0, 64));
        const uint64_t chunk = extractField(source, sourceAt, sourceBits < 0 ? -take : take);
        const auto put = static_cast<int32_t>(std::min<int64_t>(destinationLeft, 64));
        insertField(destination, destinationLength, destinationAt, destinationBits < 0 ? -put : put,
                    chunk);
        destinationAt += destinationStep;
        sourceAt += sourceStep;
    }
}

uint64_t Q3bit_insertbuf(uint64_t value, uint64_t buffer, int32_t startBit, int32_t length)
{
    if (length == 0 || startBit < 0)
        return buffer;
    if (length > 0) {
        if (int64_t(startBit) + length > 64)
            return buffer;
        const uint64_t mask = lowMask(unsigned(length)) << startBit;
        return (buffer & ~mask) | (value << startBit & mask);
    }
    // In the word read big-endian (byte 0 most significant) the field is contiguous.
    const int64_t bits = magnitude(length);
    const int64_t fromTop = startBit ^ 7;
    if (fromTop + bits > 64)
        return buffer;
    const auto shift = static_cast<unsigned>(64 - fromTop - bits);
    const uint64_t mask = lowMask(unsigned(bits)) << shift;
    const uint64_t word = __builtin_bswap64(buffer);
    return __builtin_bswap64((word & ~mask) | (value << shift & mask));
}

uint64_t Q3bit_extractbuf(const uint8_t *buffer, uint32_t startBit, int32_t length)
{
    if (buffer == nullptr || length == 0)
        return 0;
    const auto bits = static_cast<unsigned>(std::min<int64_t>(magnitude(length), 64));
    const uint8_t *p = buffer + startBit / 8;
    const unsigned shift = startBit & 7;
    if (length > 0) {
        uint64_t v = load64(p) >> shift;
        if (shift + bits > 64)
            v |= uint64_t(p[8]) << (64 - shift);
        return v & lowMask(bits);
    }
    // Read big-endian, the start bit is word bit 56 + shift and the field's least
    // significant bit sits `bits - 1` below it.
    const uint64_t word = __builtin_bswap64(load64(p)) & lowMask(57 + shift);
    const int down = 57 + int(shift) - int(bits);
    if (down >= 0)
        return word >> down;
    return word << -down | p[8] >> (8 + down);
}

uint64_t Q3bit_buf_swap(const uint8_t *bytes, uint32_t count)
{
    if (bytes == nullptr)
        return 0;
    const uint64_t v = load64(bytes);
    switch (count) {
    case 2:
        return __builtin_bswap16(static_cast<uint16_t>(v));
    case 3:
    case 4:
        return __builtin_bswap32(static_cast<uint32_t>(v));
    case 5:
    case 6:
    case 7:
    case 8:
        return __builtin_bswap64(v);
    default:
        return v;
    }
}

// Both shifts write every destination byte exactly once, in the direction that reads
// each source byte before it can be overwritten, so the destination may be the source.
void Q3bit_shiftleft(uint8_t *destination, const uint8_t *source, uint32_t length, uint32_t shift)
{
    if (destination == nullptr || source == nullptr)
        return;
    const uint32_t byteShift = std::min(shift / 8, length);
    const unsigned bitShift = shift & 7;
    for (uint32_t i = length; i-- > byteShift;) {
        const uint32_t from = i - byteShift;
        unsigned v = unsigned(source[from]) << bitShift;
        if (bitShift != 0 && from > 0)
            v |= source[from - 1] >> (8 - bitShift);
        destination[i] = static_cast<uint8_t>(v);
    }
    std::memset(destination, 0, byteShift);
}

void Q3bit_shiftright(uint8_t *destination, const uint8_t *source, uint32_t length, uint32_t shift)
{
    if (destination == nullptr || source == nullptr)
        return;
    const uint32_t byteShift = std::min(shift / 8, length);
    const unsigned bitShift = shift & 7;
    const uint32_t kept = length - byteShift;
    for (uint32_t i = 0; i < kept; ++i) {
        const uint32_t from = i + byteShift;
        unsigned v = source[from] >> bitShift;
        if (bitShift != 0 && from + 1 < length)
            v |= unsigned(source[from + 1]) << (8 - bitShift);
        destination[i] = static_cast<uint8_t>(v);
    }
    std::memset(destination + kept, 0, byteShift);
}

namespace {

// Sets (fill 0xFF) or clears (fill 0) buffer bits [startBit, startBit + count) inside
// the buffer: partial end bytes by mask, whole bytes between them at once.
void fillBits(uint8_t *buffer, uint32_t bufferLength, uint32_t startBit, uint32_t count, bool set)
{
    if (buffer == nullptr)
        return;
    const uint64_t end = std::min<uint64_t>(uint64_t(startBit) + count, 8 * uint64_t(bufferLength));
    if (startBit >= end)
        return;
    uint64_t first = startBit / 8;
    const uint64_t last = (end - 1) / 8;
    auto apply = [&](uint64_t byte, unsigned mask) {
        buffer[byte] = static_cast<uint8_t>(set ? buffer[byte] | mask : buffer[byte] & ~mask);
    };
    const unsigned headMask = (0xFFu << (startBit & 7)) & 0xFF;
    const unsigned tailMask = 0xFFu >> (7 - ((end - 1) & 7));
    if (first == last) {
        apply(first, headMask & tailMask);
        return;
    }
    apply(first++, headMask);
    std::memset(buffer + first, set ? 0xFF : 0, last - first);
    apply(last, tailMask);
}

} // namespace

void Q3bit_set(uint8_t *buffer, uint32_t bufferLength, uint32_t startBit, uint32_t count)
{
    fillBits(buffer, bufferLength, startBit, count, true);
}

void Q3bit_reset(uint8_t *buffer, uint32_t bufferLength, uint32_t startBit, uint32_t count)
{
    fillBits(buffer, bufferLength, startBit, count, false);
}

void Q3byte_or(uint8_t *destination, const uint8_t *first, const uint8_t *second, uint32_t count)
{
    if (destination == nullptr || first == nullptr || second == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i)
        destination[i] = first[i] | second[i];
}

void Q3byte_and(uint8_t *destination, const uint8_t *first, const uint8_t *second, uint32_t count)
{
    if (destination == nullptr || first == nullptr || second == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i)
        destination[i] = first[i] & second[i];
}

void Q3byte_xor(uint8_t *destination, const uint8_t *first, const uint8_t *second, uint32_t count)
{
    if (destination == nullptr || first == nullptr || second == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i)
        destination[i] = first[i] ^ second[i];
}
