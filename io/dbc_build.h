// The DBC model builder behind the import script's dbc.build: it turns the DBC reader's
// records and the file text into the model through the C interface.
#pragma once

#include <lua.hpp>

#include "vexo/types.h"

namespace vexo::io {

// Builds the model of a DBC file into database from the Lua stack: 2 the database name
// that prefixes every element id, 3 report(line, severity, message), 4 the input table
// { the reader's records (readDbcRecords), the file text }, whose entries are removed, so
// that the text's memory can go when the caller keeps no other reference. The records are
// emptied: they build once. Pushes the counts of frames, signals and ECUs made and
// returns 3; on failure (a Lua error of the reporter, memory running out, a model call
// that fails) it leaves the error value on top and returns -1, with every C++ object it
// made destroyed, so that the caller can raise it. Argument errors are raised at once.
int buildDbcModel(lua_State *L, VexoNode *database);

}  // namespace vexo::io
