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
 * number: E_FAIL when the file cannot be opened, E_INVALIDARG for a null path,
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
 * number: E_FAIL when the file cannot be opened, E_INVALIDARG for a null path,
 * E_OUTOFMEMORY when memory runs out. The table belongs to the Lua state. */
VEXO_API int Vexo_importRawLDF(lua_State *L, const VexoChar *path);

/* ---- Raw readers with options --------------------------------------- */
/* Flags of the two readers below. VEXO_IMPORT_TOLERANT reads files that real tools
 * write but the grammar rejects: where a strict read would stop with a syntax error,
 * the reader accepts what such files contain (negative VAL_ values, names beginning
 * with a digit, .25, BOOL attributes, LDF sections and node attributes in another
 * order or missing, J2602 and ISO 17987 headers ...) or, failing that, skips the
 * statement or entry and goes on with the next one. A file the strict reader accepts
 * gives the same table either way. */
#define VEXO_IMPORT_TOLERANT 0x1u

/* Reads a DBC file like Vexo_importRawDBC, with reading flags.
 *   L      Lua 5.1 state that receives the results; null gives 0 (nothing pushed)
 *   path   UTF-16 file name, zero-terminated
 *   flags  0, or VEXO_IMPORT_TOLERANT
 * With flags 0 the results are exactly those of Vexo_importRawDBC. Tolerant, it
 * returns 2 on success: the table (shaped as a strict read shapes it) and the list
 * of warnings, tables {line =, column =, text =} in file order, each saying what
 * was read differently or skipped (every BO_ and SG_ statement left out is named);
 * the list is empty when nothing was. At most 1,000 warnings are listed; a last
 * one then counts the others and names every frame and signal they skip. Syntax
 * errors do not end a tolerant read;
 * it still returns 2, nil and a code or message when the file cannot be opened or
 * read to its end, or memory runs out. Any other flag bit gives 2, nil and
 * E_INVALIDARG. The tables belong to the Lua state. */
VEXO_API int Vexo_importRawDBCEx(lua_State *L, const VexoChar *path, uint32_t flags);

/* Reads a LIN description file like Vexo_importRawLDF, with reading flags.
 *   L      Lua 5.1 state that receives the results; null gives 0 (nothing pushed)
 *   path   UTF-16 file name, zero-terminated
 *   flags  0, or VEXO_IMPORT_TOLERANT
 * With flags 0 the results are exactly those of Vexo_importRawLDF. Tolerant, it
 * returns 2 on success: the table and the warning list, as Vexo_importRawDBCEx
 * does (every frame and signal left out is named). Sections are read wherever they
 * stand and stored in the usual section order; a required section the file lacks
 * is given as an empty one (Nodes excepted), and values the file lacks stay absent,
 * each with a warning. Failures and flag bits as for Vexo_importRawDBCEx. */
VEXO_API int Vexo_importRawLDFEx(lua_State *L, const VexoChar *path, uint32_t flags);

#endif
