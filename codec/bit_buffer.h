// Bit fields of up to 64 bits in byte buffers, for callers inside the library that
// move one field at a time; the exported Q3bit_ functions are built on these.
#pragma once

#include <cstdint>

namespace vexo::codec {

// Reads a field of at most 64 bits (|length| <= 64; length < 0 is big-endian) and
// returns its value. Only bytes holding bits of the field are read. A zero length
// or a negative start bit gives 0.
uint64_t extractField(const uint8_t *buffer, int64_t startBit, int32_t length);

// Writes the low |length| bits of value (|length| <= 64) into a field of a buffer
// of bufferLength bytes: a little-endian field is clipped at the buffer's end, of a
// big-endian one only the bytes inside the buffer are written. A negative start
// bit writes nothing. Returns the number of bits written.
int32_t insertField(uint8_t *buffer, uint64_t bufferLength, int64_t startBit, int32_t length,
                    uint64_t value);

} // namespace vexo::codec
