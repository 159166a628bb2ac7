/* Vexo bit-buffer and BCD functions: bit fields of either byte order in byte
 * buffers, whole-buffer bit and byte operations, and BCD fields.
 *
 * Bit n of a buffer is bit (n mod 8) of byte (n div 8), bit 0 being a byte's
 * least significant bit. A signed field length selects the byte order:
 *   length >= 0  little-endian field of length bits; the start bit is its least
 *                significant bit and the field runs to higher bit numbers.
 *   length < 0   big-endian field of -length bits; the start bit is its most
 *                significant bit. With the running index r(n) = n XOR 7 the
 *                field covers r(start) ... r(start) - length - 1, most
 *                significant bit first; its least significant bit is buffer bit
 *                ((start XOR 7) - length - 1) XOR 7.
 * A field value passed as bytes is little-endian: byte 0 holds value bits 0-7.
 * These functions never allocate, keep no state and are safe from any thread
 * on distinct buffers. A null buffer pointer makes a call do nothing (and give
 * 0 where it has a result). */
#ifndef VEXO_CODEC_H
#define VEXO_CODEC_H

#include "vexo/types.h"

/* ---- Bit fields in byte buffers ------------------------------------------ */
/* Tells whether every bit of a field lies inside a buffer.
 *   bufferLength  buffer size in bytes
 *   startBit      start bit of the field; negative is never inside
 *   length        signed field length (sign gives the byte order); a zero
 *                 length is inside whenever its start bit is
 * Returns 1 when the field lies inside the buffer, else 0. */
VEXO_API int32_t Q3bit_insideBuffer(uint32_t bufferLength, int32_t startBit, int32_t length);

/* Writes a value into a field of a buffer; every bit outside the field keeps
 * its value.
 *   buffer        destination buffer of bufferLength bytes
 *   value         the value's (|length| + 7) / 8 bytes, little-endian; bits
 *                 above |length| in its last byte are ignored
 *   bufferLength  size of buffer in bytes
 *   startBit      start bit of the field
 *   length        signed field length (sign gives the byte order)
 * A little-endian field is clipped at the buffer's end (nothing is written when
 * startBit is at or beyond it); of a big-endian field only the bytes inside the
 * buffer are written. A negative startBit writes nothing.
 * Returns the number of field bits written into the buffer. */
VEXO_API int32_t Q3bit_insert(uint8_t *buffer, const uint8_t *value, uint32_t bufferLength,
                              int32_t startBit, int32_t length);

/* Reads a field of a buffer into a little-endian value.
 *   value        receives the value: its first (|length| + 7) / 8 bytes (as
 *                many as fit) hold the field, bits above |length| cleared; all
 *                other bytes are set to zero
 *   buffer       source buffer; the field must lie inside it. Only bytes
 *                holding bits of the field are read.
 *   valueLength  size of value in bytes; a shorter value receives the field's
 *                low bytes only, nothing is written past it
 *   startBit     start bit of the field; a negative one gives an all-zero value
 *   length       signed field length (sign gives the byte order); 0 gives an
 *                all-zero value */
VEXO_API void Q3bit_extract(uint8_t *value, const uint8_t *buffer, uint32_t valueLength,
                            int32_t startBit, int32_t length);

/* Copies a field of one buffer into a field of another, 64 bits at a time:
 * chunk k takes up to 64 bits of the source field from its chunk start and
 * writes them, zero-extended or truncated, to the destination's chunk k as
 * Q3bit_insert does (clipped at the destination's end). Chunk starts advance by
 * +64 bits for a little-endian field and by -64 bits (eight bytes earlier) for
 * a big-endian one, so the start bit of a big-endian field longer than 64 bits
 * names the most significant bit of its least significant 64-bit chunk.
 *   destination        destination buffer of destinationLength bytes
 *   destinationLength  size of destination in bytes
 *   destinationStart   start bit of the destination field
 *   destinationBits    signed destination length; 0 copies nothing
 *   source             source buffer; the source field must lie inside it
 *   sourceStart        start bit of the source field
 *   sourceBits         signed source length; 0 clears the destination field
 * The buffers must not overlap. */
VEXO_API void Q3bit_copy(uint8_t *destination, uint32_t destinationLength, int32_t destinationStart,
                         int32_t destinationBits, const uint8_t *source, int32_t sourceStart,
                         int32_t sourceBits);

/* ---- Fields in a 64-bit word --------------------------------------------- */
/* Replaces a field of an eight-byte buffer held as a 64-bit integer (buffer
 * byte k is integer bits 8k to 8k+7).
 *   value     the field's value; its low |length| bits are used
 *   buffer    the eight bytes
 *   startBit  start bit of the field
 *   length    signed field length (sign gives the byte order)
 * Returns the buffer with the field replaced, or buffer unchanged when the
 * length is 0, startBit is negative or the field does not fit in the 64 bits. */
VEXO_API uint64_t Q3bit_insertbuf(uint64_t value, uint64_t buffer, int32_t startBit, int32_t length);

/* Reads a field of at most 64 bits with one word load.
 *   buffer    source bytes: eight readable bytes from byte startBit / 8 on,
 *             nine when the field reaches into the ninth
 *   startBit  start bit of the field
 *   length    signed field length (sign gives the byte order); lengths above
 *             64 bits count as 64
 * Returns the field's value, or 0 for a zero length. */
VEXO_API uint64_t Q3bit_extractbuf(const uint8_t *buffer, uint32_t startBit, int32_t length);

/* Reads eight bytes as a little-endian 64-bit integer V and swaps its bytes.
 *   bytes  the eight bytes
 *   count  2: the low 16 bits byte-reversed; 3 or 4: the low 32 bits
 *          byte-reversed; 5 to 8: all 64 bits reversed; 0, 1 or above 8: none
 * Returns the swapped word, zero-extended (so for count 3 the three data bytes
 * land in the upper three bytes of the 32-bit result). */
VEXO_API uint64_t Q3bit_buf_swap(const uint8_t *bytes, uint32_t count);

/* ---- Whole buffers --------------------------------------------------------- */
/* Shifts a buffer, taken as one little-endian number (byte 0 least
 * significant), towards higher byte addresses.
 *   destination  receives the shifted number; may be the source itself, but
 *                must not overlap it otherwise
 *   source       the number
 *   length       size of both in bytes
 *   shift        bit count; bits shifted past the end are lost, vacated bits
 *                are zero, a shift of 8 * length or more gives all zero */
VEXO_API void Q3bit_shiftleft(uint8_t *destination, const uint8_t *source, uint32_t length,
                              uint32_t shift);

/* Shifts a buffer, taken as one little-endian number, towards lower byte
 * addresses; arguments and results as for Q3bit_shiftleft. */
VEXO_API void Q3bit_shiftright(uint8_t *destination, const uint8_t *source, uint32_t length,
                               uint32_t shift);

/* Sets buffer bits startBit to startBit + count - 1 (little-endian numbering)
 * to 1; bits beyond the buffer's end and all other bits are left alone.
 *   buffer        the buffer
 *   bufferLength  its size in bytes
 *   startBit      first bit to set
 *   count         number of bits; 0 changes nothing */
VEXO_API void Q3bit_set(uint8_t *buffer, uint32_t bufferLength, uint32_t startBit, uint32_t count);

/* Clears buffer bits startBit to startBit + count - 1; arguments as for
 * Q3bit_set. */
VEXO_API void Q3bit_reset(uint8_t *buffer, uint32_t bufferLength, uint32_t startBit, uint32_t count);

/* Combine the first count bytes of two operands: destination byte i becomes
 * first byte i OR (AND, XOR) second byte i. The destination may be one of the
 * operands. */
VEXO_API void Q3byte_or(uint8_t *destination, const uint8_t *first, const uint8_t *second,
                        uint32_t count);
VEXO_API void Q3byte_and(uint8_t *destination, const uint8_t *first, const uint8_t *second,
                         uint32_t count);
VEXO_API void Q3byte_xor(uint8_t *destination, const uint8_t *first, const uint8_t *second,
                         uint32_t count);

/* ---- BCD fields -------------------------------------------------------------- */
/* A BCD field of bitLength bits sits in a 64-bit integer, field bit 0 at bit 0.
 * Packed form has one decimal digit per 4-bit nibble, unpacked form one per
 * byte (upper nibble 0); the least significant digit is in the lowest position.
 * A top position that the bit length only partly covers is read and written
 * whole. Signed fields keep the sign in their top bit, bitLength - 1 (set for
 * negative); the rest of the topmost digit position (the sign position) is
 * written as 0 and ignored, and the digits occupy the positions below it. A
 * signed field no longer than one position has one digit in the bits below its
 * sign bit. Bit lengths above 64 count as 64. Packed, 16 bits: 1234 is 0x1234,
 * -123 is 0x8123; unpacked, 32 bits: 1234 is 0x01020304, -12 is 0x80000102. */

/* Decode a BCD field into a binary integer.
 *   value      receives the number (negated when a signed field's sign bit is
 *              set); untouched on failure
 *   field      the field
 *   bitLength  field length in bits; an unsigned field reads at least one
 *              digit position, even for 0
 * Return S_OK, or E_INVALIDARG for a digit above 9 or a null pointer. */
VEXO_API HRESULT Q3Decode_FromUnsignedPackedBCD(uint64_t *value, const uint64_t *field, uint32_t bitLength);
VEXO_API HRESULT Q3Decode_FromSignedPackedBCD(int64_t *value, const uint64_t *field, uint32_t bitLength);
VEXO_API HRESULT Q3Decode_FromUnsignedUnpackedBCD(uint64_t *value, const uint64_t *field, uint32_t bitLength);
VEXO_API HRESULT Q3Decode_FromSignedUnpackedBCD(int64_t *value, const uint64_t *field, uint32_t bitLength);

/* Encode a binary integer as a BCD field.
 *   field      receives the field (all other bits zero)
 *   value      the number; a negative one sets the sign bit. The smallest
 *              64-bit integer encodes as the sign bit alone, with S_FALSE.
 *   bitLength  field length in bits
 * Return S_OK when every digit fit, S_FALSE when the field holds only the low
 * digits (too short a field), E_INVALIDARG for a null field (nothing written). */
VEXO_API HRESULT Q3Encode_ToUnsignedPackedBCD(uint64_t *field, uint64_t value, uint32_t bitLength);
VEXO_API HRESULT Q3Encode_ToSignedPackedBCD(uint64_t *field, int64_t value, uint32_t bitLength);
VEXO_API HRESULT Q3Encode_ToUnsignedUnpackedBCD(uint64_t *field, uint64_t value, uint32_t bitLength);
VEXO_API HRESULT Q3Encode_ToSignedUnpackedBCD(uint64_t *field, int64_t value, uint32_t bitLength);

#endif
