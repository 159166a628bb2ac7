// Helpers for the import and export scripts that plain Lua does slowly or cannot do:
// text conversion between UTF-8 and the UTF-16 strings the module's methods take, and
// the readers the module table does not offer (SYM). A script gets them with require
// "Vexo.native" (Lua finds luaopen_Vexo_native in Vexo.so; the library's own script
// states have it preloaded).
#include <cstdlib>
#include <cstring>
#include <string>

#include <lua.hpp>

#include "text.h"
#include "vexo/io.h"
#include "vexo/lua_module.h"

namespace vexo::io {

namespace {

// Lua 5.1 hashes a string of 32 bytes or more from every n-th byte only, n = length / 32
// + 1; when n is even those are the high bytes of UTF-16 text, which are zero for most
// text, so all such strings of one length would share one hash chain and every new one
// walk it. Arguments are padded with zero units to the next length where n is odd.
size_t hashFriendlyLength(size_t bytes)
{
    while (((bytes >> 5) & 1) != 0)
        bytes = (bytes | 63) + 1;
    return bytes;
}

// utf16(text [, terminated]): the UTF-16LE units of UTF-8 text, with a terminating zero
// unit unless terminated is false. A byte that does not start a valid UTF-8 sequence
// becomes the unit of the same value. A terminated text (an argument for the module's
// methods, which read up to the first zero unit) may carry further zero units.
int native_utf16(lua_State *L)
{
    const char *text = luaL_checkstring(L, 1);
    const bool terminated = lua_isnone(L, 2) || lua_toboolean(L, 2);
    VexoChar *wide = core::widenText(text);
    if (wide == nullptr)
        return luaL_error(L, "not enough memory");
    const size_t bytes = core::unitLength(wide) * sizeof(VexoChar);
    if (!terminated) {
        lua_pushlstring(L, reinterpret_cast<const char *>(wide), bytes);
        std::free(wide);
        return 1;
    }
    const size_t padded = hashFriendlyLength(bytes + sizeof(VexoChar));
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    luaL_addlstring(&buffer, reinterpret_cast<const char *>(wide), bytes);
    std::free(wide);
    for (size_t n = bytes; n < padded; ++n)
        luaL_addchar(&buffer, '\0');
    luaL_pushresult(&buffer);
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

// importSYM(path): the SYM reader (Vexo_importRawSYM) on a UTF-8 path: the table, or
// nil and the reader's message or result code.
int native_importSYM(lua_State *L)
{
    const char *path = luaL_checkstring(L, 1);
    VexoChar *wide = core::widenText(path);
    if (wide == nullptr)
        return luaL_error(L, "not enough memory");
    // The reader's results may raise a memory error: the path lives on in a Lua string.
    lua_pushlstring(L, reinterpret_cast<const char *>(wide), (core::unitLength(wide) + 1) * sizeof(VexoChar));
    std::free(wide);
    const auto *name = reinterpret_cast<const VexoChar *>(lua_tostring(L, -1));
    const int top = lua_gettop(L);
    const int results = Vexo_importRawSYM(L, name);
    lua_remove(L, top);
    return results;
}

const luaL_Reg kNativeFunctions[] = {
    {"utf16", native_utf16},
    {"utf8", native_utf8},
    {"importSYM", native_importSYM},
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
