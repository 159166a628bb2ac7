/* Vexo file readers: DBC and LDF files into plain Lua tables that the import scripts walk,
 * and the XSL transformation behind the Lua function XSLtransform. None of them touches a
 * database; they only leave their results on the caller's Lua state. */
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

/* ---- XSL transformation ---------------------------------------------- */
/* Applies an XSLT 1.0 style sheet to an XML document (libxml2 and libxslt) and leaves
 * the output text, serialised by the style sheet's output method, on L's stack. The
 * source document is loaded first, then the style sheet; neither is validated, no
 * external entity or DTD is loaded, nothing is read from the network, and the style
 * sheet may neither write files nor create directories (document() of a local file
 * is allowed). Safe to call from several threads, each with its own Lua state;
 * nothing is printed and no libxml2 or libxslt handler is left changed.
 *   L           Lua 5.1 state that receives the results; null gives 0
 *   styleSheet  UTF-16 file name (or file: URL) of the style sheet, zero-terminated
 *   document    UTF-16 file name (or file: URL) of the source document, zero-terminated
 * Returns the number of values pushed: 1, the whole output as a string ("" when empty);
 * or 3, nil, a negative code and a message:
 *   -N (N: libxml2's error number) and "NAME (LINE, COLUMN): REASON\n" when the
 *       document or the style sheet cannot be read or is not well-formed XML (a
 *       missing file gives -1549 and line and column 0);
 *   E_INVALIDARG and "NAME: DESCRIPTION\n" (NAME: the style sheet) when the style
 *       sheet is no valid XSLT;
 *   E_FAIL and "NAME: DESCRIPTION\n" (NAME: the document) when the transformation
 *       fails, or the message "\"Transformation failed.\"" when libxslt gave no
 *       description;
 *   E_FAIL and "Unable to get error information.\n" when a load failed without
 *       an error record;
 *   E_INVALIDARG and "\"Invalid file name.\"" for a null name or one that is no
 *       valid UTF-16;
 *   E_OUTOFMEMORY and "\"Failed to instantiate an XML DOM.\"" when memory runs out.
 * Lua's own memory errors while pushing are raised as Lua errors. */
VEXO_API int Vexo_xslTransform(lua_State *L, const VexoChar *styleSheet, const VexoChar *document);

#endif
