/* Vexo file readers: DBC, LDF and SYM files into plain Lua tables that the import scripts
 * walk, and the XSL transformation behind the Lua function XSLtransform. None of them
 * touches a database; they only leave their results on the caller's Lua state. */
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

/* Reads a symbol file (SYM, format versions 5.0 and 6.0) into a Lua table left on L's
 * stack: "tag" = "sym" and one element per entry in file order, each with its "tag"
 * and "line": "header" (key, value) for the lines before the first section; "enum"
 * (name; entries 1..n of value [, to for a range low..high], text, line); "signal"
 * (a {SIGNALS} entry: name, type [, length]); "message" (one per [name] block: section
 * SEND, RECEIVE or SENDRECEIVE, name, and id [, idend], type, length (Len or DLC),
 * cycletime, timeout, mininterval, color, brs, mux (name, start, length, value) when
 * given, then its "var" (name, type, start, length) and "sig" (name, start) entries
 * 1..n). Flags ("-m", "-h" ...) are kept as the letters in "flags"; the options /u: /f:
 * /o: /min: /max: /d: /e: /ln: /p: /spn: as unit, factor, offset, min, max, default
 * (a number) or defaulttext, enum, longname, decimals, spn; other options by name in
 * "options". A "// text" after an entry is its "comment" (after an enumeration's closing
 * parenthesis, that of its last entry); comment lines of their own before an
 * enumeration are its comment, other comment lines are skipped. Numbers are decimal,
 * or hexadecimal with the suffix h ("620h").
 *   L     Lua 5.1 state that receives the results; null gives 0 (nothing pushed)
 *   path  UTF-16 file name, zero-terminated
 * Returns the number of values pushed: 1, the table, on success; 2, nil and the
 * message "SYM-Import: (line, column): 'x' expected but found 'y'" at the first
 * syntax error (y is the word found there, "end of line" or "end of file"), or nil
 * and a Lua error value; 2, nil and a result code as a number: E_FAIL when the file
 * cannot be opened, E_INVALIDARG for a null path, E_OUTOFMEMORY when memory runs out.
 * The table belongs to the Lua state. */
VEXO_API int Vexo_importRawSYM(lua_State *L, const VexoChar *path);

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

/* ---- Script-driven import and export ---------------------------------- */
/* Importing a file into a database and exporting a database to a file are done
 * by two Lua scripts that lie in the folder of libvexo.so, "imports.lua" and
 * "exports.lua" (the shipped ones read DBC and LDF files and write DBC files;
 * docs/import-mapping.md says what becomes what). Every function below creates
 * a fresh Lua state with the standard libraries and the module "Vexo" opened,
 * sets the global ModuleFilePath to the library's folder, puts "DIR/?.lua;" and
 * "DIR/?.so;" in front of package.path and package.cpath, runs the script from
 * disk and calls one global function of it; the state is closed before the
 * function returns, so a changed script takes effect on the next call. */

/* One message of a script or of the library, valid only during the callback:
 * first and second are the two numbers the reporter was called with (the shipped
 * scripts pass the line in the file, 0 when the message concerns no line, and a
 * severity: VEXO_MESSAGE_ERROR 0, VEXO_MESSAGE_WARNING 1, VEXO_MESSAGE_INFO 2);
 * text is UTF-16 and zero-terminated. Failures that the library itself reports
 * (a script that cannot be loaded, raises an error or returns E_FAIL) arrive as
 * {0, 0, the error message}. */
typedef struct VexoMessage {
    int32_t first;
    int32_t second;
    const VexoChar *text;
} VexoMessage;

#define VEXO_MESSAGE_ERROR   0
#define VEXO_MESSAGE_WARNING 1
#define VEXO_MESSAGE_INFO    2

/* Receives the messages of an import or export. context is the value the caller
 * passed along, untouched; the result is handed back to the script as the
 * reporter's result. During an import the callback may look into the database:
 * every element made before the message is in its groups (the root group and the
 * default groups), and what the callback makes is listed at once. */
typedef int32_t (*VexoMessageCallback)(void *context, const VexoMessage *message);

/* Lists the import filters of "imports.lua" (its getImportFilters()).
 *   filters  receives a caller-owned string (Vexo_freeString): the script's
 *            result, e.g. "DBC files (*.dbc)|*.dbc|LDF files (*.ldf)|*.ldf"
 * Returns S_OK; E_INVALIDARG (nothing written) for a null filters; E_OUTOFMEMORY
 * with "error: Out of memory." when no Lua state can be made; E_FAIL when the
 * script cannot be loaded or run or the function is missing or raises: the
 * message (at most 1023 units) is then both printed to standard output and
 * stored in filters. */
VEXO_API HRESULT Vexo_importGetAvailableFilters(VexoString *filters);

/* Asks "imports.lua" whether it recognises a file (its detectfile(fileName)).
 *   fileName  UTF-16 path; null is handed to the script as the empty text
 * Returns S_OK when the script's result is anything but nil (false included),
 * S_FALSE when it is nil; E_FAIL when the script cannot be run or raises;
 * E_OUTOFMEMORY when no Lua state can be made. */
VEXO_API HRESULT Vexo_importDetect(const VexoChar *fileName);

/* Asks "imports.lua" for the database identifier of a file (its
 * getdatabaseid(fileName); the shipped script answers the file's base name).
 *   fileName  UTF-16 path
 *   dbId      receives a caller-owned string (Vexo_freeString)
 * Returns S_OK; E_INVALIDARG for a null argument; E_FAIL when the script cannot
 * be run, raises or returns no string; E_OUTOFMEMORY when no Lua state can be made. */
VEXO_API HRESULT Vexo_importGetDbId(const VexoChar *fileName, VexoString *dbId);

/* Lets "imports.lua" report information about a file through the callback (its
 * getImportInfo(database, fileName, reporter); the shipped script reports the
 * format and the counts of frames, signals and ECUs without changing database).
 *   database  database handed to the script (not owned by it); not checked here
 *   fileName  UTF-16 path; null is handed over as the empty text
 *   context   passed to every callback call untouched
 *   callback  receives the messages; may be null
 * Returns the script's result read as an integer; E_FAIL, with the error
 * message delivered through the callback, when the script cannot be run, raises
 * or itself returns E_FAIL (then the message is the number's decimal text);
 * E_OUTOFMEMORY, with "Out of memory", when no Lua state can be made. */
VEXO_API HRESULT Vexo_importGetInfo(VexoNode *database, const VexoChar *fileName, void *context,
                                    VexoMessageCallback callback);

/* Imports a file into a database through "imports.lua" (its doimport(database,
 * node or nil, fileName, filter, reporter)).
 *   database  database that receives the elements (stays owned by the caller)
 *   node      element handed to the script, or null; the shipped script ignores it
 *   fileName  UTF-16 path
 *   filter    UTF-16 filter: empty or null to recognise the format by content, or
 *             one of the names the filter list gives ("DBC", "*.ldf", ...),
 *             optionally with the word "tolerant" (see docs/import-mapping.md)
 *   context, callback  as for Vexo_importGetInfo
 * Returns the script's result read as an integer (S_OK from the shipped script
 * when the file was imported); E_FAIL with the message delivered through the
 * callback when the script raises (the shipped script raises with the reader's
 * message, line and column included, for a file it cannot read); E_OUTOFMEMORY
 * as for Vexo_importGetInfo. */
VEXO_API HRESULT Vexo_importFile(VexoNode *database, VexoNode *node, const VexoChar *fileName,
                                 const VexoChar *filter, void *context, VexoMessageCallback callback);

/* Lists the export filters of "exports.lua" (its getExportFilters()); results as
 * for Vexo_importGetAvailableFilters. */
VEXO_API HRESULT Vexo_exportGetAvailableFilters(VexoString *filters);

/* Exports a database to a file through "exports.lua" (its doexport(database,
 * node or nil, fileName, filter); no reporter is passed).
 *   database  database to write
 *   node      element handed to the script, or null; the shipped script writes the
 *             channel given here, or the whole database when it is null
 *   fileName  UTF-16 path of the file to write
 *   filter    UTF-16 filter: empty or null to choose by the file name's extension
 *   context, callback  receive the failure message, if any
 * Returns the script's result read as an integer; E_FAIL and E_OUTOFMEMORY as
 * for Vexo_importFile. */
VEXO_API HRESULT Vexo_exportFile(VexoNode *database, VexoNode *node, const VexoChar *fileName,
                                 const VexoChar *filter, void *context, VexoMessageCallback callback);

#endif
