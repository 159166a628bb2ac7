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
    int32_t c;        // the current character, not yet consumed (kNoChar before the first read)
    uint32_t line;    // its line
    uint32_t column;  // its column (the first is 1; a line end is one past the line's last character)
};

// Opens the file and creates the scanner. Returns S_OK and the scanner; the input's
// E_INVALIDARG, E_FAIL or E_OUTOFMEMORY unchanged; E_INVALIDARG when the scanner state
// cannot be allocated (or the out pointer is null).
HRESULT createSymLexer(const VexoChar *path, SymLexer **lexer);

// Creates the scanner over an open input, which it owns from then on (also when the
// state cannot be allocated: the input is closed and E_INVALIDARG returned).
HRESULT createSymLexerOnInput(LexInput *input, SymLexer **lexer);

// Closes the input and releases the state; null is ignored.
void destroySymLexer(SymLexer *lexer);

// One read: the scanner and the reading flags (none are defined for SYM); passed to the
// parse function as its light-userdata upvalue.
struct SymParser {
    SymLexer *lexer;
    uint32_t flags;
};

// The parse function: reads the whole file of the parser instance in its upvalue and
// returns the table; raises "invalid parser instance" for a null upvalue and the SYM
// syntax error message at the first unexpected character.
int parseSym(lua_State *L);

// Reads SYM text from an open stream (a memory stream in the fuzzer and tests) with
// exactly the stack results of Vexo_importRawSYM; the stream is always closed.
int importSymStream(lua_State *L, FILE *stream);

}  // namespace vexo::io
