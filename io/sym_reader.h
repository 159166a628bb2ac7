// The SYM reader's internals: a line-oriented scanner over the shared input and the
// parser that turns one symbol file into the Lua table that Vexo_importRawSYM returns.
#pragma once

#include <cstdio>

#include "lex_rules.h"

struct lua_State;

namespace vexo::io {

// The scanner keeps one character of lookahead with its position: SYM is read by
// context (a unit runs to the next blank, a value may be hexadecimal with an 'h'),
// so the parser scans characters itself instead of asking for tokens.
struct SymLexer {
    LexerCore core;
    int32_t c = kNoChar;   // the current character, not yet consumed (kNoChar before the first read)
    uint32_t line = 1;     // its line
    uint32_t column = 1;   // its column (the first is 1; a line end is one past the line's last character)
};

// The parse function: reads the whole file of the parser instance in its upvalue and
// returns the table; raises "invalid parser instance" for a null upvalue and the SYM
// syntax error message at the first unexpected character.
int parseSym(lua_State *L);

// Reads SYM text from an open stream (a memory stream in the fuzzer and tests) with
// exactly the stack results of Vexo_importRawSYM; the stream is always closed.
int importSymStream(lua_State *L, FILE *stream);

}  // namespace vexo::io
