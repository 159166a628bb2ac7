// Shared pieces of the reader fuzz targets: a failed check aborts (libFuzzer keeps the
// input), inputs are read through a memory-backed stream, and the tolerant targets
// compare tables and check warning lists.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <string>

#include <lua.hpp>

[[noreturn]] inline void failCheck(const char *what)
{
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

inline FILE *openMemory(const uint8_t *data, size_t size)
{
    static char empty[1];
    // fmemopen only reads through the pointer in mode "rb".
    FILE *f = fmemopen(size != 0 ? const_cast<uint8_t *>(data) : reinterpret_cast<uint8_t *>(empty), size, "rb");
    if (f == nullptr)
        failCheck("fmemopen");
    return f;
}

// Deep equality of the values at the absolute indexes a and b: tables key by key,
// everything else raw.
inline bool sameValue(lua_State *L, int a, int b)
{
    if (lua_type(L, a) != LUA_TTABLE || lua_type(L, b) != LUA_TTABLE)
        return lua_rawequal(L, a, b) != 0;
    long keys = 0;
    for (lua_pushnil(L); lua_next(L, a) != 0; lua_pop(L, 1)) {
        ++keys;
        lua_pushvalue(L, -2);
        lua_rawget(L, b);
        const bool same = sameValue(L, lua_gettop(L) - 1, lua_gettop(L));
        lua_pop(L, 1);
        if (!same) {
            lua_pop(L, 2);
            return false;
        }
    }
    for (lua_pushnil(L); lua_next(L, b) != 0; lua_pop(L, 1))
        --keys;
    return keys == 0;
}

// The warning list at idx: tables {line =, column =, text =} in file order, and not
// more of them than the input has bytes (plus a few about what the whole file lacks).
inline void checkWarnings(lua_State *L, int idx, size_t size)
{
    const size_t n = lua_objlen(L, idx);
    if (n > size + 16)
        failCheck("more warnings than bytes");
    double previous = 0;
    for (size_t i = 1; i <= n; ++i) {
        lua_rawgeti(L, idx, static_cast<int>(i));
        lua_getfield(L, -1, "line");
        lua_getfield(L, -2, "column");
        lua_getfield(L, -3, "text");
        if (!lua_istable(L, -4) || lua_type(L, -3) != LUA_TNUMBER || lua_type(L, -2) != LUA_TNUMBER ||
            lua_type(L, -1) != LUA_TSTRING || lua_objlen(L, -1) == 0)
            failCheck("warning shape");
        const double position = lua_tonumber(L, -3) * 1e9 + lua_tonumber(L, -2);
        if (lua_tonumber(L, -3) < 1 || position < previous)
            failCheck("warnings out of file order");
        previous = position;
        lua_pop(L, 4);
    }
}

// Reads one input strictly and tolerantly (through read(L, stream, flags)) and checks
// that the tolerant read always gives a table and a warning list, and the very table of
// the strict read whenever that gives one.
template <class Read>
void checkTolerantRead(const uint8_t *data, size_t size, Read read)
{
    lua_State *L = luaL_newstate();
    if (L == nullptr)
        failCheck("lua state");
    lua_pushliteral(L, "sentinel");
    const int strictCount = read(L, openMemory(data, size), 0u);
    const bool strictTable = strictCount == 1 && lua_istable(L, -1);
    if (!strictTable) {
        lua_settop(L, 1);
        lua_pushnil(L);
    }
    const int count = read(L, openMemory(data, size), 1u);
    if (count != 2 || lua_gettop(L) != 4 || !lua_istable(L, 3) || !lua_istable(L, 4))
        failCheck("tolerant read gave no table and warning list");
    if (lua_type(L, 1) != LUA_TSTRING)
        failCheck("stack below the results");
    lua_getfield(L, 3, "tag");
    if (lua_type(L, -1) != LUA_TSTRING || std::string(lua_tostring(L, -1)) != "db")
        failCheck("database tag");
    lua_pop(L, 1);
    if (strictTable && !sameValue(L, 2, 3))
        failCheck("tolerant table differs from the strict one");
    checkWarnings(L, 4, size);
    lua_close(L);
}
