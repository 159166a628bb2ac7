// The checks of the reader fuzz targets: tokenizers run to the end of an input, strict reads have their stack results
// checked, and tolerant reads are compared with strict ones and have their warning lists checked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <lua.hpp>

#include "fuzz_support.h"
#include "lex_rules.h"

// Tokenizes an input to its end, checking that positions never run backwards, that each token's text is terminated and
// no longer than the input, that there are no more tokens than bytes and that the end repeats; check(core, code) adds
// the tokenizer's own rules. setup(lexer) runs before the first token.
template <class Lexer, class Setup, class Check>
void tokenizeAll(const uint8_t *data, size_t size, Setup setup, Check check)
{
    using namespace vexo::io;
    LexInput *input = nullptr;
    Lexer *lexer = nullptr;
    failIf(openLexInputStream(openMemory(data, size), &input) != S_OK || createLexerOnInput(input, &lexer) != S_OK,
           "open");
    setup(lexer);
    uint32_t line = 0, column = 0;
    size_t tokens = 0;
    for (;;) {
        const int32_t code = nextToken(lexer);
        const LexerCore &core = lexer->core;
        failIf(core.tokenLine < line || (core.tokenLine == line && core.tokenColumn < column),
               "token position ran backwards");
        failIf(core.text[core.textLength] != '\0' || core.textLength > size, "token text");
        // Code 1 is both a zero byte (no text) and the byte 1 as a single character.
        failIf((code == TOK_EOF && core.textLength != 0) || (code == TOK_NUL && core.textLength > 1),
               "end or zero token with text");
        check(core, code);
        line = core.tokenLine;
        column = core.tokenColumn;
        if (code == TOK_EOF)
            break;
        failIf(++tokens > size, "more tokens than bytes");
    }
    failIf(nextToken(lexer) != TOK_EOF, "end of input did not repeat");
    destroyLexer(lexer);
}

// Whether the field key of the table at idx is the string text.
inline bool fieldIs(lua_State *L, int idx, const char *key, const char *text)
{
    lua_getfield(L, idx, key);
    const bool same = lua_type(L, -1) == LUA_TSTRING && std::strcmp(lua_tostring(L, -1), text) == 0;
    lua_pop(L, 1);
    return same;
}

// Reads one input strictly with read(L, stream) above a sentinel and checks the stack results: one table, or nil and a
// message. Returns the state, the results on top, for the caller to look at and close; *table says which it is.
template <class Read>
lua_State *readStrictly(const uint8_t *data, size_t size, Read read, bool *table)
{
    lua_State *L = luaL_newstate();
    failIf(L == nullptr, "lua state");
    lua_pushliteral(L, "sentinel");
    const int count = read(L, openMemory(data, size));
    *table = count == 1 && lua_istable(L, -1);
    const bool error = count == 2 && lua_isnil(L, -2) && lua_type(L, -1) == LUA_TSTRING;
    failIf(!*table && !error, "stack results");
    failIf(lua_gettop(L) != 1 + count || lua_type(L, 1) != LUA_TSTRING, "stack below the results");
    return L;
}

// Deep equality of the values at the absolute indexes a and b: tables key by key, everything else raw.
inline bool sameValue(lua_State *L, int a, int b)
{
    if (lua_type(L, a) != LUA_TTABLE || lua_type(L, b) != LUA_TTABLE)
        return lua_rawequal(L, a, b) != 0;
    long keys = 0;
    for (lua_pushnil(L); lua_next(L, a) != 0; lua_pop(L, 1)) {
        ++keys;
        lua_pushvalue(L, -2);
        lua_rawget(L, b);
        const bool same = sameValue(L, lua_gettop(L) - 1, lua_gettop(L));
        lua_pop(L, 1);
        if (!same) {
            lua_pop(L, 2);
            return false;
        }
    }
    for (lua_pushnil(L); lua_next(L, b) != 0; lua_pop(L, 1))
        --keys;
    return keys == 0;
}

// The warning list at idx: tables {line =, column =, text =} in file order, and not
// more of them than the input has bytes (plus a few about what the whole file lacks).
inline void checkWarnings(lua_State *L, int idx, size_t size)
{
    const size_t n = lua_objlen(L, idx);
    failIf(n > size + 16, "more warnings than bytes");
    double previous = 0;
    for (size_t i = 1; i <= n; ++i) {
        lua_rawgeti(L, idx, static_cast<int>(i));
        lua_getfield(L, -1, "line");
        lua_getfield(L, -2, "column");
        lua_getfield(L, -3, "text");
        failIf(!lua_istable(L, -4) || lua_type(L, -3) != LUA_TNUMBER || lua_type(L, -2) != LUA_TNUMBER ||
                   lua_type(L, -1) != LUA_TSTRING || lua_objlen(L, -1) == 0, "warning shape");
        const double position = lua_tonumber(L, -3) * 1e9 + lua_tonumber(L, -2);
        failIf(lua_tonumber(L, -3) < 1 || position < previous, "warnings out of file order");
        previous = position;
        lua_pop(L, 4);
    }
}

// Reads one input strictly (checked as readStrictly checks) and tolerantly (through
// read(L, stream, flags)) and checks that the tolerant read always gives a table and a
// warning list, and the very table of the strict read whenever that gives one.
template <class Read>
void checkTolerantRead(const uint8_t *data, size_t size, Read read)
{
    bool strictTable = false;
    lua_State *L = readStrictly(data, size, [read](lua_State *S, FILE *f) { return read(S, f, 0u); }, &strictTable);
    if (!strictTable) {
        lua_settop(L, 1);
        lua_pushnil(L);
    }
    const int count = read(L, openMemory(data, size), 1u);
    failIf(count != 2 || lua_gettop(L) != 4 || !lua_istable(L, 3) || !lua_istable(L, 4),
           "tolerant read gave no table and warning list");
    failIf(lua_type(L, 1) != LUA_TSTRING, "stack below the results");
    failIf(!fieldIs(L, 3, "tag", "db"), "database tag");
    failIf(strictTable && !sameValue(L, 2, 3), "tolerant table differs from the strict one");
    checkWarnings(L, 4, size);
    lua_close(L);
}
