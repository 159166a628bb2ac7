// Helpers for the import and export scripts that plain Lua does slowly: text
// conversion between UTF-8 and the UTF-16 strings the module's methods take. A
// script gets them with require "Vexo.native" (Lua finds luaopen_Vexo_native in
// Vexo.so; the library's own script states have it preloaded).
#include <lua.hpp>

#include "text.h"
#include "vexo/lua_module.h"

namespace vexo::io {

namespace {

// Everything below builds its result in a Lua buffer: the functions may raise Lua's
// memory error at any push, and nothing of theirs must be left behind when they do.

void addUnit(luaL_Buffer *buffer, uint32_t unit)
{
    luaL_addchar(buffer, static_cast<char>(unit & 0xFF));
    luaL_addchar(buffer, static_cast<char>(unit >> 8));
}

// utf16(text [, terminated]): the UTF-16LE units of UTF-8 text, with a terminating zero
// unit unless terminated is false. A byte that does not start a valid UTF-8 sequence
// becomes the unit of the same value; the text ends at its first zero byte.
int native_utf16(lua_State *L)
{
    const auto *text = reinterpret_cast<const unsigned char *>(luaL_checkstring(L, 1));
    const bool terminated = lua_isnone(L, 2) || lua_toboolean(L, 2);
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    for (size_t i = 0; text[i] != 0;) {
        if (text[i] < 0x80) {
            addUnit(&buffer, text[i++]);
            continue;
        }
        size_t length = 0;
        uint32_t cp = core::nextCodePoint(text + i, &length);
        i += length;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            addUnit(&buffer, 0xD800 | (cp >> 10));
            cp = 0xDC00 | (cp & 0x3FF);
        }
        addUnit(&buffer, cp);
    }
    if (terminated)
        addUnit(&buffer, 0);
    luaL_pushresult(&buffer);
    return 1;
}

// utf8(text): UTF-8 of UTF-16LE text; a terminating zero unit, if any, is dropped, and
// an unpaired surrogate is written as its three-byte form.
int native_utf8(lua_State *L)
{
    size_t bytes = 0;
    const auto *text = reinterpret_cast<const unsigned char *>(luaL_checklstring(L, 1, &bytes));
    size_t units = bytes / 2;
    auto unitAt = [text](size_t i) { return static_cast<uint32_t>(text[2 * i] | (text[2 * i + 1] << 8)); };
    if (units > 0 && unitAt(units - 1) == 0)
        --units;
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    for (size_t i = 0; i < units; ++i) {
        uint32_t cp = unitAt(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && unitAt(i + 1) >= 0xDC00 && unitAt(i + 1) <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unitAt(++i) - 0xDC00);
        char utf8[4];
        luaL_addlstring(&buffer, utf8, core::encodeUtf8(cp, utf8));
    }
    luaL_pushresult(&buffer);
    return 1;
}

const luaL_Reg kNativeFunctions[] = {
    {"utf16", native_utf16},
    {"utf8", native_utf8},
    {nullptr, nullptr},
};

}  // namespace

}  // namespace vexo::io

VEXO_API int luaopen_Vexo_native(lua_State *L)
{
    lua_newtable(L);
    luaL_register(L, nullptr, vexo::io::kNativeFunctions);
    return 1;
}
