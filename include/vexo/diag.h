/* Vexo diagnostics: a Graphviz DOT view of a whole database, for developers who
 * want to see what a model holds and how its elements link. */
#ifndef VEXO_DIAG_H
#define VEXO_DIAG_H

#include "vexo/types.h"

/* ---- DOT graph dump ------------------------------------------------------ */
/* Writes a database as a DOT digraph: one record node per element reachable from
 * its DatabaseCollections node (kind, identifier, [short name] and main fields),
 * each written once, and a coloured edge per link (gray: group, green: parent,
 * cyan: group member, blue: reference, black/red/orange/yellow/brown: relation
 * lists). The file is UTF-8 without byte order mark, with LF line ends, and is
 * created or truncated. Label texts are escaped for DOT records ("<>|{}\ and
 * quotes get a backslash, line feeds become \n, other control characters a space);
 * identifiers are cut to 2046 units. The model must not change during the dump.
 *   database          the database (exactly a database)
 *   path              UTF-16 file name, zero-terminated
 *   language          language of unit display names (low 16 bits used)
 *   fallbackLanguage  language tried next (low 16 bits used)
 * Returns S_OK; E_INVALIDARG (no file touched) when database is null or no
 * database or path is null; E_UNEXPECTED when the file cannot be opened for
 * writing (nothing written) or a write to it fails (the file is incomplete);
 * E_OUTOFMEMORY when memory runs out during the walk (the file is incomplete). */
VEXO_API HRESULT Vexo_dumpDot(VexoNode *database, const VexoChar *path, uint32_t language,
                              uint32_t fallbackLanguage);

#endif
