// A minimal C host for the Lua suite: links libvexo.so, offers the module through package.preload and runs one script
// (its arguments in the global arg). Sanitizer builds run the suite through it (the stock interpreters are not
// instrumented), and closing the state at the end lets the leak checker see every database released by __gc.
#include <cstdio>

#include <lua.hpp>

#include "vexo/lua_module.h"

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s script.lua [arguments]\n", argv[0]);
        return 2;
    }
    lua_State *L = luaL_newstate();
    if (L == nullptr)
        return 2;
    luaL_openlibs(L);
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");
    lua_pushcfunction(L, luaopen_Vexo);
    lua_setfield(L, -2, "Vexo");
    lua_pop(L, 2);
    // The script learns that it runs in a host that closes the state itself.
    lua_pushboolean(L, 1);
    lua_setglobal(L, "VEXO_TEST_HOST");
    lua_createtable(L, argc, 0);
    for (int i = 0; i < argc; ++i) {
        lua_pushstring(L, argv[i]);
        lua_rawseti(L, -2, i - 1);
    }
    lua_setglobal(L, "arg");

    int status = luaL_loadfile(L, argv[1]);
    if (status == 0)
        status = lua_pcall(L, 0, 1, 0);
    int exitCode = 0;
    if (status != 0) {
        std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
        exitCode = 1;
    } else if (lua_type(L, -1) == LUA_TNUMBER) {
        exitCode = lua_tointeger(L, -1) == 0 ? 0 : 1;
    }
    lua_close(L);
    return exitCode;
}
