// Small helpers shared by the tests: UTF-16 text from literals and back.
#pragma once

#include <string>

#include "vexo/types.h"

inline std::u16string u16(const VexoChar *text)
{
    return text == nullptr ? std::u16string(u"<null>") : std::u16string(text);
}

// Narrow rendering of ASCII UTF-16 text for readable failure messages.
inline std::string ascii(const VexoChar *text)
{
    if (text == nullptr)
        return "<null>";
    std::string out;
    for (; *text != 0; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}
