/* Vexo file readers: DBC and LDF files into plain Lua tables that the import scripts walk.
 * The readers touch no database; they only build tables on the caller's Lua state. */
#ifndef VEXO_IO_H
#define VEXO_IO_H

#include "vexo/types.h"

/* Lua 5.1's state type, declared here so that this header needs no Lua headers.
 * C99 hosts that include both should include lua.h first. */
#if !defined(lua_h) && !defined(VEXO_LUA_STATE_DECLARED)
#define VEXO_LUA_STATE_DECLARED
typedef struct lua_State lua_State;
#endif

/* ---- Raw readers ----------------------------------------------------- */
/* Reads a DBC file into a Lua table left on L's stack: "tag" = "db" and the
 * frame, ecu, comment, value, attrdef, attrdefault and attr elements in file order.
 *   L     Lua 5.1 state that receives the results; null gives 0 (nothing pushed)
 *   path  UTF-16 file name, zero-terminated
 * Returns the number of values pushed: 1, the table, on success; 2, nil and the
 * message "DBC-Import: (line, column): 'x' expected but found 'y'" at the first
 * syntax error (or nil and a Lua error value); 2, nil and a result code as a
 * number: E_FAIL when the file cannot be opened or is no regular file (a
 * directory, FIFO or device is refused at once), E_INVALIDARG for a null path,
 * E_OUTOFMEMORY when memory runs out. The table belongs to the Lua state. */
VEXO_API int Vexo_importRawDBC(lua_State *L, const VexoChar *path);

/* Reads a LIN description file (LDF) into a Lua table left on L's stack: "tag" =
 * "db" and one element per section read, in the fixed section order (global, nodes,
 * signals, frames, schedule tables ...); whatever follows the last section is not read.
 *   L     Lua 5.1 state that receives the results; null gives 0 (nothing pushed)
 *   path  UTF-16 file name, zero-terminated
 * Returns the number of values pushed: 1, the table, on success; 2, nil and the
 * message "LDF-Import: (line, column): 'x' expected but found 'y'" at the first
 * syntax error (or nil and a Lua error value); 2, nil and a result code as a
 * number: E_FAIL when the file cannot be opened or is no regular file, E_INVALIDARG
 * for a null path, E_OUTOFMEMORY when memory runs out. The table belongs to the
 * Lua state. */
VEXO_API int Vexo_importRawLDF(lua_State *L, const VexoChar *path);

#endif
