// The DBC reader's internals: the recursive-descent parser that turns one DBC file
// into the Lua table that Vexo_importRawDBC returns.
#pragma once

#include <cstdint>
#include <cstdio>

#include "dbc_lexer.h"

struct lua_State;

namespace vexo::io {

// The parse function: reads the whole file of the parser instance in its upvalue and
// returns the database table; raises "invalid parser instance" for a null upvalue
// and the DBC syntax error message at the first unexpected token.
int parseDbc(lua_State *L);

// Reads DBC text from an open stream (a memory stream in the fuzzer and tests) with
// exactly the stack results of Vexo_importRawDBCEx; the stream is always closed.
int importDbcStream(lua_State *L, FILE *stream, uint32_t flags = 0);

}  // namespace vexo::io
