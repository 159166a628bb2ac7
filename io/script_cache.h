// Lua script files compiled once per process. Every script call runs in a Lua state of
// its own, which would otherwise compile the same files again each time: for a small
// file, compiling the import scripts is half of an import.
#pragma once

#include <lua.hpp>

namespace vexo::io {

// As luaL_loadfile: pushes the file's chunk as a function (0), or an error message and
// the error code. A file loaded before, with the same size and modification time since,
// is loaded from the bytecode kept of it (its chunk name, and so the file name in
// messages, is the same); an edited file is compiled again. Safe to call from several
// threads at once.
int loadScriptFile(lua_State *L, const char *path);

// Puts a searcher in front of package.loaders[2] (the search for Lua files) that finds
// a module's file in a folder, as the template "directory/?.lua" does, and loads it with
// loadScriptFile; a module without a file there is left to the other searchers. The
// search paths stay as they are. Raises on a Lua error (out of memory).
void searchScriptsFirst(lua_State *L, const char *directory);

}  // namespace vexo::io
