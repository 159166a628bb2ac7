// UTF-16 text helpers: lengths, conversion from and to 8-bit (UTF-8) text, and the
// caller-owned strings handed out through the C interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vexo/types.h"

namespace vexo::core {

// Units up to the zero unit.
size_t unitLength(const VexoChar *text);

// Converts 8-bit text to a zero-terminated UTF-16 copy on the heap (release with
// std::free), or null when memory runs out. UTF-8 sequences become their code points
// (as surrogate pairs above U+FFFF); a byte that does not start a valid sequence
// becomes one unit of the same value, so plain ASCII is one unit per byte.
VexoChar *widenText(const char *text);

// Appends one code point as UTF-8.
void appendUtf8(std::string &out, uint32_t codePoint);

// The code point of the UTF-8 sequence at s (zero-terminated text) and its length in
// bytes; a byte that does not start a valid sequence is its own code point, 1 byte long.
uint32_t nextCodePoint(const unsigned char *s, size_t *length);

// Writes a code point as UTF-8 into out (room for 4 bytes); returns the byte count.
size_t encodeUtf8(uint32_t codePoint, char *out);

// Writes a code point as UTF-16 into out (room for 2 units: a surrogate pair above
// U+FFFF); returns the unit count.
inline size_t encodeUtf16(uint32_t codePoint, VexoChar *out)
{
    if (codePoint < 0x10000) {
        out[0] = static_cast<VexoChar>(codePoint);
        return 1;
    }
    codePoint -= 0x10000;
    out[0] = static_cast<VexoChar>(0xD800 | (codePoint >> 10));
    out[1] = static_cast<VexoChar>(0xDC00 | (codePoint & 0x3FF));
    return 2;
}

// Converts UTF-16 units to UTF-8; unpaired surrogates are kept as three-byte forms.
std::string narrowText(const VexoChar *text, size_t length);
std::string narrowText(const VexoChar *text);

// A caller-owned copy of length units, or null when memory runs out.
VexoString newCallerString(const VexoChar *text, size_t length);

}  // namespace vexo::core
