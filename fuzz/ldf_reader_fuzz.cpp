// libFuzzer target for the LDF tokenizer and reader. Each input is tokenized to its
// end, checking that positions never run backwards and that the token stream ends,
// then read into a Lua table, checking the stack results and the table's shape.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "fuzz_support.h"

#include "ldf_lexer.h"
#include "ldf_reader.h"

namespace {

using namespace vexo::io;

void tokenizeAll(const uint8_t *data, size_t size)
{
    LexInput *input = nullptr;
    LdfLexer *lexer = nullptr;
    if (openLexInputStream(openMemory(data, size), &input) != S_OK || createLdfLexerOnInput(input, &lexer) != S_OK)
        failCheck("open");
    uint32_t line = 0;
    uint32_t column = 0;
    size_t tokens = 0;
    for (;;) {
        const int32_t code = nextLdfToken(lexer);
        const LexerCore &core = lexer->core;
        if (core.tokenLine < line || (core.tokenLine == line && core.tokenColumn < column))
            failCheck("token position ran backwards");
        if (core.text[core.textLength] != '\0' || core.textLength > size)
            failCheck("token text");
        // Code 1 is both a zero byte (no text) and the byte 1 as a single character.
        if ((code == TOK_EOF && core.textLength != 0) || (code == TOK_NUL && core.textLength > 1) ||
            (code == '/' && core.textLength != 0))
            failCheck("end, zero or slash token with text");
        if (code == '\n' || (code >= 8 && code <= 13) || code == ' ')
            failCheck("white space as a token");
        line = core.tokenLine;
        column = core.tokenColumn;
        if (code == TOK_EOF)
            break;
        if (++tokens > size)
            failCheck("more tokens than bytes");
    }
    if (nextLdfToken(lexer) != TOK_EOF)
        failCheck("end of input did not repeat");
    destroyLdfLexer(lexer);
}

// Every element of the database table is a table with a string tag.
void checkElements(lua_State *L)
{
    for (int i = 1;; ++i) {
        lua_rawgeti(L, -1, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return;
        }
        if (!lua_istable(L, -1))
            failCheck("element is no table");
        lua_getfield(L, -1, "tag");
        if (lua_type(L, -1) != LUA_TSTRING)
            failCheck("element without tag");
        lua_pop(L, 2);
        if (i > 15)
            failCheck("more elements than sections");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    tokenizeAll(data, size);

    lua_State *L = luaL_newstate();
    if (L == nullptr)
        failCheck("lua state");
    lua_pushliteral(L, "sentinel");
    const int count = importLdfStream(L, openMemory(data, size));
    const bool table = count == 1 && lua_istable(L, -1);
    const bool error = count == 2 && lua_isnil(L, -2) && lua_type(L, -1) == LUA_TSTRING;
    if (!table && !error)
        failCheck("stack results");
    if (lua_gettop(L) != 1 + count || lua_type(L, 1) != LUA_TSTRING)
        failCheck("stack below the results");
    if (error && std::strncmp(lua_tostring(L, -1), "LDF-Import: ", 12) != 0)
        failCheck("error message prefix");
    if (table) {
        lua_getfield(L, -1, "tag");
        if (lua_type(L, -1) != LUA_TSTRING || std::strcmp(lua_tostring(L, -1), "db") != 0)
            failCheck("database tag");
        lua_pop(L, 1);
        checkElements(L);
    }
    lua_close(L);
    return 0;
}
