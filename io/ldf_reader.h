// The LDF reader's internals: the parser that turns one LIN description file, section
// by section in a fixed order, into the Lua table that Vexo_importRawLDF returns.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ldf_lexer.h"

struct lua_State;

namespace vexo::io {

// The parse function: reads the file of the parser instance in its upvalue up to the
// end of its last section and returns the database table; raises "invalid parser
// instance" for a null upvalue and the LDF syntax error message at the first
// unexpected token.
int parseLdf(lua_State *L);

// Reads LDF text from an open stream (a memory stream in the fuzzer and tests) with
// exactly the stack results of Vexo_importRawLDFEx; the stream is always closed.
int importLdfStream(lua_State *L, FILE *stream, uint32_t flags = 0);

// The language version of a LIN_language_version text: the decimal number its text
// starts with (digits, optionally a point and more digits), 0 when it starts with none.
double leadingVersionNumber(const char *text);

}  // namespace vexo::io
