// Helpers for the import and export scripts that plain Lua does slowly: text
// conversion between UTF-8 and the UTF-16 strings the module's methods take. A
// script gets them with require "Vexo.native" (Lua finds luaopen_Vexo_native in
// Vexo.so; the library's own script states have it preloaded).
#include <cstdlib>
#include <cstring>
#include <string>

#include <lua.hpp>

#include "text.h"
#include "vexo/lua_module.h"

namespace vexo::io {

namespace {

// utf16(text [, terminated]): the UTF-16LE units of UTF-8 text, with a terminating zero
// unit unless terminated is false. A byte that does not start a valid UTF-8 sequence
// becomes the unit of the same value. Short ASCII text (names, element ids) is widened
// on the stack.
int native_utf16(lua_State *L)
{
    size_t length = 0;
    const char *text = luaL_checklstring(L, 1, &length);
    const bool terminated = lua_isnone(L, 2) || lua_toboolean(L, 2);
    char16_t units[256];
    if (length < 255) {
        size_t n = 0;
        while (n < length && static_cast<unsigned char>(text[n]) < 0x80) {
            units[n] = static_cast<char16_t>(text[n]);
            ++n;
        }
        if (n == length) {
            units[n] = 0;
            lua_pushlstring(L, reinterpret_cast<const char *>(units), (n + (terminated ? 1 : 0)) * sizeof(char16_t));
            return 1;
        }
    }
    VexoChar *wide = core::widenText(text);
    if (wide == nullptr)
        return luaL_error(L, "not enough memory");
    const size_t count = core::unitLength(wide) + (terminated ? 1 : 0);
    lua_pushlstring(L, reinterpret_cast<const char *>(wide), count * sizeof(VexoChar));
    std::free(wide);
    return 1;
}

// utf8(text): UTF-8 of UTF-16LE text; a terminating zero unit, if any, is dropped.
int native_utf8(lua_State *L)
{
    size_t bytes = 0;
    const char *text = luaL_checklstring(L, 1, &bytes);
    size_t units = bytes / sizeof(VexoChar);
    std::u16string wide(units, u'\0');
    std::memcpy(&wide[0], text, units * sizeof(VexoChar));
    if (units > 0 && wide[units - 1] == 0)
        --units;
    const std::string narrow = core::narrowText(wide.data(), units);
    lua_pushlstring(L, narrow.data(), narrow.size());
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
