// Text conversion between the model's UTF-16 and 8-bit UTF-8, and caller-owned
// length-prefixed strings (a 32-bit byte count, the units, a zero unit).
#include "vexo/core.h"
#include "text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vexo::core {

namespace {

// Decodes one UTF-8 sequence at s; returns its length, or 0 when it is not valid.
size_t decodeUtf8(const unsigned char *s, uint32_t *codePoint)
{
    const unsigned char lead = s[0];
    size_t length;
    uint32_t cp, minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)  // also stops at the terminating zero
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF)
        return 0;
    *codePoint = cp;
    return length;
}

}  // namespace

uint32_t nextCodePoint(const unsigned char *s, size_t *length)
{
    uint32_t cp = 0;
    const size_t n = decodeUtf8(s, &cp);
    *length = n == 0 ? 1 : n;
    return n == 0 ? s[0] : cp;
}

size_t encodeUtf8(uint32_t cp, char *out)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

void appendUtf8(std::string &out, uint32_t cp)
{
    char bytes[4];
    out.append(bytes, encodeUtf8(cp, bytes));
}

size_t unitLength(const VexoChar *text)
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

VexoChar *widenText(const char *text)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    const size_t bytes = std::strlen(text);
    // Never more units than bytes: each sequence of k bytes yields at most k units.
    auto *out = static_cast<VexoChar *>(std::malloc((bytes + 1) * sizeof(VexoChar)));
    if (out == nullptr)
        return nullptr;
    size_t n = 0;
    for (size_t i = 0; i < bytes;) {
        uint32_t cp = 0;
        const size_t length = decodeUtf8(s + i, &cp);
        if (length == 0) {
            out[n++] = s[i++];
        } else {
            n += encodeUtf16(cp, out + n);
            i += length;
        }
    }
    out[n] = 0;
    return out;
}

std::string narrowText(const VexoChar *text, size_t length)
{
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string narrowText(const VexoChar *text) { return narrowText(text, unitLength(text)); }

VexoString newCallerString(const VexoChar *text, size_t length)
{
    if (length > (UINT32_MAX - 8) / sizeof(VexoChar))
        return nullptr;
    auto *block = static_cast<unsigned char *>(std::malloc(4 + (length + 1) * sizeof(VexoChar)));
    if (block == nullptr)
        return nullptr;
    const auto bytes = static_cast<uint32_t>(length * sizeof(VexoChar));
    std::memcpy(block, &bytes, 4);
    auto *units = reinterpret_cast<VexoChar *>(block + 4);
    if (text != nullptr)
        std::memcpy(units, text, length * sizeof(VexoChar));
    else
        std::memset(units, 0, length * sizeof(VexoChar));
    units[length] = 0;
    return units;
}

}  // namespace vexo::core

using namespace vexo::core;

VEXO_API VexoString Vexo_allocString(const VexoChar *text)
{
    return text == nullptr ? nullptr : newCallerString(text, unitLength(text));
}

VEXO_API VexoString Vexo_allocStringLen(const VexoChar *text, uint32_t length)
{
    return newCallerString(text, length);
}

VEXO_API uint32_t Vexo_getStringLength(const VexoString string)
{
    if (string == nullptr)
        return 0;
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char *>(string) - 4, 4);
    return bytes / sizeof(VexoChar);
}

VEXO_API void Vexo_freeString(VexoString string)
{
    if (string != nullptr)
        std::free(reinterpret_cast<unsigned char *>(string) - 4);
}
