/* Vexo as a Lua 5.1 extension module: `require "Vexo"` from a Lua 5.1 or LuaJIT
 * interpreter finds Vexo.so (a second name of libvexo.so) and calls luaopen_Vexo. */
#ifndef VEXO_LUA_MODULE_H
#define VEXO_LUA_MODULE_H

#include "vexo/types.h"

/* Lua 5.1's state type, declared here so that this header needs no Lua headers.
 * C99 hosts that include both should include lua.h first. */
#if !defined(lua_h) && !defined(VEXO_LUA_STATE_DECLARED)
#define VEXO_LUA_STATE_DECLARED
typedef struct lua_State lua_State;
#endif

/* ---- Lua module entry --------------------------------------------------- */
/* Opens the module "Vexo" on a Lua state: registers the metatables of database,
 * node, string slot, internal value and encoder values in the registry, the module
 * table (global "Vexo" and package.loaded.Vexo) with its functions version,
 * createDb, importDBC, importLDF, XSLtransform and attribs, and the Q3_ constants.
 * importDBC(name [, options]) and importLDF(name [, options]) read with
 * Vexo_importRawDBCEx / Vexo_importRawLDFEx: options {tolerant = true} gives the
 * table and the warning list; without options they return what Vexo_importRawDBC
 * and Vexo_importRawLDF return, and any other option is an argument error.
 * Calling it again on the same state refreshes the same tables.
 *   L  the Lua state; inside an interpreter the module uses the interpreter's Lua
 * Returns 1: the module table is left on the stack. Databases created from Lua are
 * destroyed by the garbage collector (or when the state is closed), never while a
 * value made from them (a node, a string slot, an iterator, an encoder) is
 * reachable. */
VEXO_API int luaopen_Vexo(lua_State *L);

/* Opens the helper module "Vexo.native" that the import and export scripts use:
 * a table with utf16(text [, terminated]), the UTF-16 units of UTF-8 text (with the
 * terminating zero unit unless terminated is false), and utf8(text), UTF-8 of UTF-16
 * text. require "Vexo.native" finds it in Vexo.so; nothing is added to "Vexo".
 *   L  the Lua state
 * Returns 1: the helper table is left on the stack. */
VEXO_API int luaopen_Vexo_native(lua_State *L);

#endif
