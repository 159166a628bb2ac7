// How the file readers are entered: a parser instance holding the tokenizer and the
// reading flags is made, the parse function runs on it inside a protected call, and the
// instance is released on every path. The Lua stack then holds the table (and, reading
// tolerantly, the warnings), or nil and the error value (a message, or a result code for
// failures before the parse).
#pragma once

#include <cstdio>
#include <cstdlib>

#include <lua.hpp>

#include "lex_rules.h"
#include "vexo/io.h"

namespace vexo::io {

// One read: the tokenizer and the reading flags (VEXO_IMPORT_TOLERANT); passed to the
// parse function as its light-userdata upvalue.
template <class Lexer>
struct ParserInstance {
    Lexer *lexer;
    uint32_t flags;
};

template <class Lexer>
ParserInstance<Lexer> *newParserInstance(uint32_t flags)
{
    auto *parser = static_cast<ParserInstance<Lexer> *>(std::malloc(sizeof(ParserInstance<Lexer>)));
    if (parser != nullptr)
        *parser = {nullptr, flags};
    return parser;
}

inline int pushReadFailure(lua_State *L, HRESULT hr)
{
    lua_pushnil(L);
    lua_pushnumber(L, hr);
    return 2;
}

// Pushes the parse function as a closure whose one upvalue is filled in by runRead.
// Readers push it before they take anything from the C heap: pushing may raise Lua's
// memory error, which must not find a parser or tokenizer to lose.
inline void pushParseFunction(lua_State *L, lua_CFunction parse)
{
    lua_pushnil(L);
    lua_pushcclosure(L, parse, 1);
}

// Runs the parse function (on top of the stack) on an instance whose tokenizer is
// ready, then releases both.
template <class Lexer>
int runRead(lua_State *L, ParserInstance<Lexer> *parser)
{
    const int top = lua_gettop(L) - 1;
    lua_pushlightuserdata(L, parser);
    lua_setupvalue(L, -2, 1);
    const int status = lua_pcall(L, 0, LUA_MULTRET, 0);
    destroyLexer(parser->lexer);
    std::free(parser);
    if (status != 0) {
        lua_pushnil(L);
        lua_insert(L, -2);
        return 2;
    }
    return lua_gettop(L) - top;
}

// Ends a read that failed before the parse: drops the parse function, pushes nil and hr.
inline int abandonRead(lua_State *L, HRESULT hr)
{
    lua_pop(L, 1);
    return pushReadFailure(L, hr);
}

// Reads the file at a UTF-16 path with the parse function of a Lexer's format.
template <class Lexer>
int readPath(lua_State *L, lua_CFunction parse, const VexoChar *path, uint32_t flags)
{
    if ((flags & ~VEXO_IMPORT_TOLERANT) != 0)
        return pushReadFailure(L, E_INVALIDARG);
    pushParseFunction(L, parse);
    auto *parser = newParserInstance<Lexer>(flags);
    if (parser == nullptr)
        return abandonRead(L, E_OUTOFMEMORY);
    const HRESULT hr = createLexer(path, &parser->lexer);
    if (hr != S_OK) {
        std::free(parser);
        return abandonRead(L, hr);
    }
    return runRead(L, parser);
}

// Reads an open stream (a memory stream in the fuzzers and tests); it is always closed.
template <class Lexer>
int readStream(lua_State *L, lua_CFunction parse, FILE *stream, uint32_t flags)
{
    if ((flags & ~VEXO_IMPORT_TOLERANT) != 0) {
        if (stream != nullptr)
            std::fclose(stream);
        return pushReadFailure(L, E_INVALIDARG);
    }
    pushParseFunction(L, parse);
    auto *parser = newParserInstance<Lexer>(flags);
    if (parser == nullptr) {
        if (stream != nullptr)
            std::fclose(stream);
        return abandonRead(L, E_OUTOFMEMORY);
    }
    LexInput *input = nullptr;
    HRESULT hr = openLexInputStream(stream, &input);
    if (hr == S_OK)
        hr = createLexerOnInput(input, &parser->lexer);
    if (hr != S_OK) {
        std::free(parser);
        return abandonRead(L, hr);
    }
    return runRead(L, parser);
}

}  // namespace vexo::io
