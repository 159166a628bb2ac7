// How both file readers are entered: a parser instance holding the tokenizer and the
// reading flags is made, the parse function runs on it inside a protected call, and the
// instance is released on every path. The Lua stack then holds the table (and, reading
// tolerantly, the warnings), or nil and the error value (a message, or a result code for
// failures before the parse).
#pragma once

#include <cstdio>
#include <cstdlib>

#include <lua.hpp>

#include "lex_input.h"
#include "vexo/io.h"

namespace vexo::io {

// What one format supplies: its parse function and how its tokenizer is made and ended.
template <class Lexer>
struct ReaderFormat {
    lua_CFunction parse;
    HRESULT (*createOnInput)(LexInput *input, Lexer **lexer);
    HRESULT (*createFromPath)(const VexoChar *path, Lexer **lexer);
    void (*destroy)(Lexer *lexer);
};

inline int pushReadFailure(lua_State *L, HRESULT hr)
{
    lua_pushnil(L);
    lua_pushnumber(L, hr);
    return 2;
}

template <class Parser>
Parser *newReadParser()
{
    auto *parser = static_cast<Parser *>(std::malloc(sizeof(Parser)));
    if (parser != nullptr) {
        parser->lexer = nullptr;
        parser->flags = 0;
    }
    return parser;
}

// Pushes the parse function as a closure whose one upvalue is filled in by runRead.
// Readers push it before they take anything from the C heap: pushing may raise Lua's
// memory error, which must not find a parser or tokenizer to lose.
template <class Lexer>
void pushParseFunction(lua_State *L, const ReaderFormat<Lexer> &format)
{
    lua_pushnil(L);
    lua_pushcclosure(L, format.parse, 1);
}

// Runs the parse function (on top of the stack) on a parser whose tokenizer is ready,
// then releases both.
template <class Parser, class Lexer>
int runRead(lua_State *L, const ReaderFormat<Lexer> &format, Parser *parser)
{
    const int top = lua_gettop(L) - 1;
    lua_pushlightuserdata(L, parser);
    lua_setupvalue(L, -2, 1);
    const int status = lua_pcall(L, 0, LUA_MULTRET, 0);
    format.destroy(parser->lexer);
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

// Reads the file at a UTF-16 path.
template <class Parser, class Lexer>
int readPath(lua_State *L, const ReaderFormat<Lexer> &format, const VexoChar *path, uint32_t flags)
{
    if ((flags & ~VEXO_IMPORT_TOLERANT) != 0)
        return pushReadFailure(L, E_INVALIDARG);
    pushParseFunction(L, format);
    auto *parser = newReadParser<Parser>();
    if (parser == nullptr)
        return abandonRead(L, E_OUTOFMEMORY);
    parser->flags = flags;
    const HRESULT hr = format.createFromPath(path, &parser->lexer);
    if (hr != S_OK) {
        std::free(parser);
        return abandonRead(L, hr);
    }
    return runRead(L, format, parser);
}

// Reads an open stream (a memory stream in the fuzzers and tests); it is always closed.
template <class Parser, class Lexer>
int readStream(lua_State *L, const ReaderFormat<Lexer> &format, FILE *stream, uint32_t flags)
{
    if ((flags & ~VEXO_IMPORT_TOLERANT) != 0) {
        if (stream != nullptr)
            std::fclose(stream);
        return pushReadFailure(L, E_INVALIDARG);
    }
    pushParseFunction(L, format);
    auto *parser = newReadParser<Parser>();
    if (parser == nullptr) {
        if (stream != nullptr)
            std::fclose(stream);
        return abandonRead(L, E_OUTOFMEMORY);
    }
    parser->flags = flags;
    LexInput *input = nullptr;
    HRESULT hr = openLexInputStream(stream, &input);
    if (hr == S_OK)
        hr = format.createOnInput(input, &parser->lexer);
    if (hr != S_OK) {
        std::free(parser);
        return abandonRead(L, hr);
    }
    return runRead(L, format, parser);
}

}  // namespace vexo::io
